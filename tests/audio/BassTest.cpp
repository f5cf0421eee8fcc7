#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestUtil.h"
#include "audio/Bass.h"
#include "audio/Probe.h"

#include <chrono>
#include <random>
#include <vector>

using audiotest::Media;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

struct Decoded {
    DWORD rate = 0;
    DWORD channels = 0;
    QWORD lengthAtOpen = 0;
    QWORD bytes = 0;
    QWORD finalLength = 0;
    bool positionAboveLength = false;
    bool moreThanAsked = false;
    std::string pcm;
    tandrel::StreamCompleteness completeness;
};

HSTREAM Open(const std::string &path, DWORD flags = BASS_STREAM_DECODE) {
    bool wma = path.size() > 4 && path.substr(path.size() - 4) == ".wma";
    return wma ? BASS_WMA_StreamCreateFile(0, path.c_str(), 0, 0, flags)
               : BASS_StreamCreateFile(0, path.c_str(), 0, 0, flags);
}

// Reads a stream the way the join does: a block, then position and length.
Decoded DecodeAll(const std::string &path, DWORD block = 20480) {
    Decoded d;
    HSTREAM h = Open(path);
    EXPECT_NE(h, 0u) << path;
    if (!h)
        return d;
    BASS_CHANNELINFO info{};
    EXPECT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.flags, 0u);
    d.rate = info.freq;
    d.channels = info.chans;
    d.lengthAtOpen = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    std::vector<char> buf(block + 64, 'z');
    while (BASS_ChannelIsActive(h)) {
        DWORD n = BASS_ChannelGetData(h, buf.data(), block);
        if (n == static_cast<DWORD>(-1) || n > block || buf[block] != 'z') {
            d.moreThanAsked = true;
            break;
        }
        d.bytes += n;
        d.pcm.append(buf.data(), n);
        QWORD pos = BASS_ChannelGetPosition(h, BASS_POS_BYTE);
        QWORD len = BASS_ChannelGetLength(h, BASS_POS_BYTE);
        EXPECT_EQ(pos, d.bytes);
        if (pos > len || pos * 100 / len > 100)
            d.positionAboveLength = true;
    }
    EXPECT_EQ(BASS_ChannelGetData(h, buf.data(), block), 0u);
    d.finalLength = BASS_ChannelGetLength(h, BASS_POS_BYTE);
    EXPECT_TRUE(tandrel::GetStreamCompleteness(h, d.completeness));
    EXPECT_TRUE(BASS_StreamFree(h));
    return d;
}

std::string Noise(std::size_t bytes) {
    std::mt19937 random(7);
    std::string out(bytes, '\0');
    for (char &c : out)
        c = char(random());
    return out;
}

class Bass : public ::testing::Test {
protected:
    void SetUp() override { audiotest::EnsureBassReady(); }
};

} // namespace

// Decodes as ffmpeg does, sample for sample; a LAME header gives the exact length at once.
TEST_F(Bass, Mp3FilesDecodeExactlyAsFfmpegDoes) {
    const std::uint64_t samples = 145530;
    const std::pair<std::string, std::uint64_t> files[] = {
        {Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", samples), samples},
        {Media("vbr.mp3", "lame --quiet -V 2 {in} {out}", samples), samples},
        {Media("id3.mp3", "lame --quiet --add-id3v2 --tt Title --ta Artist {in} {out}", samples),
         samples},
        {Media("short.mp3", "lame --quiet {in} {out}", 2205), 2205},
        {Media("low.mp3", "lame --quiet -b 64 {in} {out}", 32000, 16000, 1), 32000},
        {Media("plain.mp3", "lame --quiet -t -b 192 {in} {out}", 88200), 0},
        {Media("ffvbr.mp3", "ffmpeg -v error -i {in} -c:a libmp3lame -q:a 4 {out}", 70000), 0},
        {Media("half.mp3", "lame --quiet -V 5 --resample 22.05 {in} {out}", 44100), 0}};
    TempDir dir;
    const std::string raw = dir.File("ref.raw");
    int i = 0;
    for (const auto &[file, tagged] : files) {
        SCOPED_TRACE(file);
        ASSERT_EQ(testutil::Run("ffmpeg -v error -i " + testutil::Quote(file) + " -f s16le -y " +
                                testutil::Quote(raw))
                      .exitCode,
                  0);
        Decoded d = DecodeAll(file, ++i % 2 ? 10240 : 20480);
        EXPECT_TRUE(d.pcm == testutil::ReadFile(raw))
            << d.pcm.size() << " vs " << testutil::FileSize(raw);
        if (tagged) {
            EXPECT_EQ(d.bytes, tagged * 2 * d.channels);
            EXPECT_EQ(d.lengthAtOpen, d.bytes);
        }
        EXPECT_EQ(d.finalLength, d.bytes);
        EXPECT_FALSE(d.positionAboveLength);
        EXPECT_FALSE(d.moreThanAsked);
        EXPECT_FALSE(d.completeness.endedEarly);
    }
    const Decoded low = DecodeAll(files[4].first);
    EXPECT_EQ(low.rate, 16000u);
    EXPECT_EQ(low.channels, 1u);
}

TEST_F(Bass, EstimatedLengthsGrowSoThatPositionNeverPassesLength) {
    // No LAME header: a short 320 kbps file followed by a long 32 kbps one makes the
    // estimate from the first frame far too small.
    std::string fast = Media("fast.mp3", "lame --quiet -t -b 320 {in} {out}", 22050);
    std::string slow = Media("slow.mp3", "lame --quiet -t -b 32 {in} {out}", 176400);
    std::string joined = audiotest::MediaDir() + "/joined.mp3";
    WriteFile(joined, testutil::ReadFile(fast) + testutil::ReadFile(slow));
    Decoded d = DecodeAll(joined, 10240);
    EXPECT_LT(d.lengthAtOpen, d.bytes);
    EXPECT_FALSE(d.positionAboveLength);
    EXPECT_EQ(d.finalLength, d.bytes);
    EXPECT_GT(d.bytes, 198000u * 4);

    // An odd request gives whole sample frames and never more than asked.
    HSTREAM h = Open(fast);
    ASSERT_NE(h, 0u);
    char buf[16] = {};
    EXPECT_EQ(BASS_ChannelGetData(h, buf, 7), 4u);
    EXPECT_EQ(BASS_ChannelGetData(h, buf, 3), 0u);
    EXPECT_EQ(BASS_ChannelGetPosition(h, BASS_POS_BYTE), 4u);
    BASS_StreamFree(h);
}

TEST_F(Bass, WhatIsNotThatKindOfAudioGetsNoHandle) {
    TempDir dir;
    std::string mp3 = Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530);
    std::string wma = Media("v2.wma", "ffmpeg -v error -i {in} -c:a wmav2 -b:a 128k {out}", 145530);
    std::string random;
    for (int i = 0; i < 300000; ++i)
        random += static_cast<char>((i * 2654435761u) >> 13);
    std::string tagOnly = std::string("ID3\x03\0\0\0\0\x01\0", 10) + std::string(128, '\0');
    // A tag claiming 256 MB in a small file, in front of real audio.
    std::string bogusTag = std::string("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10) + testutil::ReadFile(mp3);
    const std::pair<std::string, std::string> cases[] = {
        {"empty.mp3", ""},
        {"random.mp3", random},
        {"tag.mp3", tagOnly},
        {"bogus.mp3", bogusTag},
        {"wave.mp3", testutil::ReadFile(audiotest::ToneWav(4410))},
        {"mp3.wma", testutil::ReadFile(mp3)},
        {"wma.mp3", testutil::ReadFile(wma)},
        {"cut.wma", testutil::ReadFile(wma).substr(0, 300)},
        {"random.wma", random}};
    for (const auto &[name, bytes] : cases) {
        WriteFile(dir.File(name), bytes);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Open(dir.File(name)), 0u) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << name;
    }
}

TEST_F(Bass, HandlesAreCheckedAndStreamsNeedInit) {
    std::string mp3 = Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530);
    HSTREAM a = Open(mp3, 0), b = Open(mp3, 0);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b);
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(a, BASS_ChannelGetLength(a, BASS_POS_BYTE)), 3.3, 1e-9);
    EXPECT_TRUE(BASS_StreamFree(a));
    char buf[64];
    BASS_CHANNELINFO info{};
    for (DWORD bad : {a, 0u, 123456u}) {
        EXPECT_FALSE(BASS_StreamFree(bad));
        EXPECT_EQ(BASS_ChannelGetData(bad, buf, sizeof buf), static_cast<DWORD>(-1));
        EXPECT_EQ(BASS_ChannelGetLength(bad, BASS_POS_BYTE), static_cast<QWORD>(-1));
        EXPECT_EQ(BASS_ChannelGetPosition(bad, BASS_POS_BYTE), static_cast<QWORD>(-1));
        EXPECT_EQ(BASS_ChannelIsActive(bad), 0u);
        EXPECT_FALSE(BASS_ChannelGetInfo(bad, &info));
    }
    EXPECT_EQ(BASS_ChannelGetData(b, buf, sizeof buf), sizeof buf);

    BASS_Free();
    EXPECT_EQ(BASS_ChannelIsActive(b), 0u) << "streams end with the layer";
    tandrel::SetBassInitFailureForTesting(true);
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(Open(mp3), 0u);
    tandrel::SetBassInitFailureForTesting(false);
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    HSTREAM c = Open(mp3);
    EXPECT_NE(c, 0u);
    BASS_StreamFree(c);
}

TEST_F(Bass, AudioAfterARunOfZerosOrNoiseIsFoundAgain) {
    const std::string plain = Media("plain.mp3", "lame --quiet -t -b 192 {in} {out}", 88200);
    const std::string bytes = ReadFile(plain);
    const std::size_t whole = DecodeAll(plain).pcm.size();
    TempDir dir;
    const std::size_t half = bytes.size() / 2;
    const std::pair<std::string, std::string> runs[] = {{"zeros.mp3", std::string(3 << 20, '\0')},
                                                        {"noise.mp3", Noise(2 << 20)}};
    for (const auto &[name, run] : runs) {
        SCOPED_TRACE(name);
        WriteFile(dir.File(name), bytes.substr(0, half) + run + bytes.substr(half));
        const Decoded s = DecodeAll(dir.File(name));
        // At most the frame the run was put into is lost.
        EXPECT_GE(s.pcm.size(), whole - 2 * 1152 * 4);
        EXPECT_LE(s.pcm.size(), whole);
        EXPECT_FALSE(s.completeness.endedEarly);
    }
}

// Whole files (WMA made by ffmpeg among them) end where promised; cut ones know it.
TEST_F(Bass, WholeAndCutFilesKnowWhatTheyPromised) {
    const std::string tagged = Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530);
    const std::string plain = Media("plain.mp3", "lame --quiet -t -b 192 {in} {out}", 88200);
    const std::string wma =
        Media("v2.wma", "ffmpeg -v error -i {in} -c:a wmav2 -b:a 128k {out}", 145530);
    const std::string v1 =
        Media("v1.wma", "ffmpeg -v error -i {in} -c:a wmav1 {out}", 46305, 22050, 1);
    const struct {
        std::string path;
        std::int64_t exact; // only a LAME tag states the length
        double frames;
    } wholes[] = {
        {tagged, 145530 * 4, 145530}, {plain, -1, 88200}, {wma, -1, 145530}, {v1, -1, 46305}};
    for (const auto &whole : wholes) {
        SCOPED_TRACE(whole.path);
        tandrel::ProbedFile f;
        ASSERT_EQ(tandrel::ProbeFile(whole.path, f), tandrel::Refusal::None);
        EXPECT_EQ(f.exactBytes, whole.exact);
        const Decoded d = DecodeAll(whole.path);
        EXPECT_FALSE(d.completeness.endedEarly);
        EXPECT_FALSE(d.positionAboveLength);
        EXPECT_EQ(d.finalLength, d.bytes);
        EXPECT_NEAR(double(d.bytes) / (2 * d.channels), whole.frames, 4096.0);
        EXPECT_NEAR(double(d.lengthAtOpen) / (2 * d.channels), whole.frames, 4096.0);
    }
    EXPECT_EQ(DecodeAll(v1).rate, 22050u);
    TempDir dir;
    const std::string t = ReadFile(tagged), p = ReadFile(plain), w = ReadFile(wma);
    // A tagged file cut at a frame boundary before it was opened gives what its frames hold;
    // the others cut short know it.
    const std::size_t frame = 417;
    std::size_t boundary = 0;
    while (boundary < t.size() / 2)
        boundary += frame + ((std::uint8_t(t[boundary + 2]) >> 1) & 1);
    ASSERT_EQ(std::uint8_t(t[boundary]), 0xFF);
    WriteFile(dir.File("boundary.mp3"), t.substr(0, boundary));
    WriteFile(dir.File("mid.mp3"), p.substr(0, p.size() / 2 + frame / 3));
    WriteFile(dir.File("cut.wma"), w.substr(0, w.size() / 2));
    for (const char *name : {"mid.mp3", "cut.wma"}) {
        SCOPED_TRACE(name);
        const Decoded s = DecodeAll(dir.File(name));
        EXPECT_TRUE(s.completeness.endedEarly);
        EXPECT_GT(s.completeness.promisedBytes, s.pcm.size());
    }
    const Decoded cut = DecodeAll(dir.File("boundary.mp3"));
    EXPECT_FALSE(cut.completeness.endedEarly);
    EXPECT_FALSE(cut.completeness.exactLength);
    EXPECT_EQ(cut.lengthAtOpen, cut.bytes);
    EXPECT_NEAR(double(cut.bytes) / 4, 145530 / 2.0, 2 * 1152);
}

TEST_F(Bass, MalformedFilesNeitherHangNorCrash) {
    const std::string bytes = ReadFile(Media("vbr.mp3", "lame --quiet -V 2 {in} {out}", 145530));
    TempDir dir;
    std::mt19937 random(3);
    for (int i = 0; i < 40; ++i) {
        std::string damaged = bytes;
        for (int k = 0; k < 30; ++k)
            damaged[random() % damaged.size()] = char(random());
        // A header claiming a huge frame count, and one cut inside the LAME tag.
        if (i == 0)
            damaged.replace(36 + 8, 4, "\x7F\xFF\xFF\xFF");
        if (i == 1)
            damaged.resize(150);
        WriteFile(dir.File("d.mp3"), damaged);
        HSTREAM h = BASS_StreamCreateFile(0, dir.File("d.mp3").c_str(), 0, 0, 0);
        char block[20480];
        std::uint64_t got = 0;
        while (h && BASS_ChannelIsActive(h) && got < bytes.size() * 40)
            got += BASS_ChannelGetData(h, block, sizeof block);
        EXPECT_LT(got, bytes.size() * 40);
        BASS_StreamFree(h);
    }
}
