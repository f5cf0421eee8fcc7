#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestUtil.h"
#include "audio/Decoder.h"
#include "audio/Decoding.h"
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
    int rate = 0;
    int channels = 0;
    std::uint64_t lengthAtOpen = 0;
    std::uint64_t bytes = 0;
    std::uint64_t finalLength = 0;
    bool positionAboveLength = false;
    bool moreThanAsked = false;
    std::string pcm;
    bool exactLength = false;
    bool endedEarly = false;
    std::uint64_t promisedBytes = 0;
};

// The reader these tests mean by the name: FFmpeg's for ".wma", the MP3 frame reader else.
std::unique_ptr<tandrel::Decoder> Open(const std::string &path) {
    const bool wma = path.size() > 4 && path.substr(path.size() - 4) == ".wma";
    return tandrel::Decoder::Open(path,
                                  wma ? tandrel::InputReader::Decoded : tandrel::InputReader::Mp3);
}

// Reads a stream the way the join does: a block, then position and length.
Decoded DecodeAll(const std::string &path, std::size_t block = 20480) {
    Decoded d;
    auto h = Open(path);
    EXPECT_TRUE(h) << path;
    if (!h)
        return d;
    EXPECT_EQ(h->Bits(), 16);
    d.rate = h->Rate();
    d.channels = h->Channels();
    d.lengthAtOpen = h->LengthBytes();
    std::vector<std::uint8_t> buf(block + 64, 'z');
    while (h->HasData()) {
        const std::size_t n = h->Read(buf.data(), block);
        if (n > block || buf[block] != 'z') {
            d.moreThanAsked = true;
            break;
        }
        d.bytes += n;
        d.pcm.append(reinterpret_cast<const char *>(buf.data()), n);
        const std::uint64_t pos = h->PositionBytes(), len = h->LengthBytes();
        EXPECT_EQ(pos, d.bytes);
        if (pos > len || pos * 100 / len > 100)
            d.positionAboveLength = true;
    }
    EXPECT_EQ(h->Read(buf.data(), block), 0u);
    d.finalLength = h->LengthBytes();
    d.exactLength = h->LengthIsExact();
    d.endedEarly = h->EndedEarly(d.promisedBytes);
    return d;
}

std::string Noise(std::size_t bytes) {
    std::mt19937 random(7);
    std::string out(bytes, '\0');
    for (char &c : out)
        c = char(random());
    return out;
}

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override { audiotest::EnsureDecodingReady(); }
};

} // namespace

// Decodes as ffmpeg does, sample for sample; a LAME header gives the exact length at once.
TEST_F(DecoderTest, Mp3FilesDecodeExactlyAsFfmpegDoes) {
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
        EXPECT_FALSE(d.endedEarly);
    }
    const Decoded low = DecodeAll(files[4].first);
    EXPECT_EQ(low.rate, 16000u);
    EXPECT_EQ(low.channels, 1u);
}

// Opened only to describe it, an MP3 file tells what the decoding one does, rate, channels,
// length, delay and padding, and gives no audio.
TEST_F(DecoderTest, AnMp3DescribedWithoutDecodingTellsWhatItsDecodingDoes) {
    const std::string files[] = {
        Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530),
        Media("vbr.mp3", "lame --quiet -V 2 {in} {out}", 145530),
        Media("id3.mp3", "lame --quiet --add-id3v2 --tt Title --ta Artist {in} {out}", 145530),
        Media("low.mp3", "lame --quiet -b 64 {in} {out}", 32000, 16000, 1),
        Media("plain.mp3", "lame --quiet -t -b 192 {in} {out}", 88200)};
    for (const std::string &file : files) {
        SCOPED_TRACE(file);
        const auto full = tandrel::Decoder::Open(file, tandrel::InputReader::Mp3);
        const auto facts = tandrel::Decoder::Open(file, tandrel::InputReader::Mp3, nullptr, true);
        ASSERT_TRUE(full && facts);
        EXPECT_EQ(facts->Rate(), full->Rate());
        EXPECT_EQ(facts->Channels(), full->Channels());
        EXPECT_EQ(facts->Bits(), full->Bits());
        EXPECT_EQ(facts->LengthBytes(), full->LengthBytes());
        EXPECT_EQ(facts->LengthIsExact(), full->LengthIsExact());
        EXPECT_EQ(facts->Mp3DelaySamples(), full->Mp3DelaySamples());
        EXPECT_EQ(facts->Mp3PaddingFrom(), full->Mp3PaddingFrom());
        EXPECT_STREQ(facts->CodecName(), full->CodecName());
        std::uint8_t buf[4096];
        EXPECT_FALSE(facts->HasData());
        EXPECT_EQ(facts->Read(buf, sizeof buf), 0u);
    }
}

TEST_F(DecoderTest, EstimatedLengthsGrowSoThatPositionNeverPassesLength) {
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
    auto h = Open(fast);
    ASSERT_TRUE(h);
    std::uint8_t buf[16] = {};
    EXPECT_EQ(h->Read(buf, 7), 4u);
    EXPECT_EQ(h->Read(buf, 3), 0u);
    EXPECT_EQ(h->PositionBytes(), 4u);
}

TEST_F(DecoderTest, WhatIsNotThatKindOfAudioGetsNoHandle) {
    TempDir dir;
    std::string mp3 = Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530);
    std::string wma = Media("v2.wma", "ffmpeg -v error -i {in} -c:a wmav2 -b:a 128k {out}", 145530);
    std::string random;
    for (int i = 0; i < 300000; ++i)
        random += static_cast<char>((i * 2654435761u) >> 13);
    std::string tagOnly = std::string("ID3\x03\0\0\0\0\x01\0", 10) + std::string(128, '\0');
    const std::pair<std::string, std::string> cases[] = {
        {"empty.mp3", ""},
        {"random.mp3", random},
        {"tag.mp3", tagOnly},
        {"wave.mp3", testutil::ReadFile(audiotest::ToneWav(4410))},
        {"wma.mp3", testutil::ReadFile(wma)},
        {"cut.wma", testutil::ReadFile(wma).substr(0, 300)},
        {"random.wma", random}};
    for (const auto &[name, bytes] : cases) {
        WriteFile(dir.File(name), bytes);
        auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(Open(dir.File(name))) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << name;
    }
    // A tag claiming 256 MB in a small file does not hide the real audio behind it.
    WriteFile(dir.File("bogus.mp3"),
              std::string("ID3\x03\0\0\x7F\x7F\x7F\x7F", 10) + testutil::ReadFile(mp3));
    EXPECT_EQ(DecodeAll(dir.File("bogus.mp3")).pcm, DecodeAll(mp3).pcm);
}

TEST_F(DecoderTest, NothingOpensUntilDecodingStarts) {
    std::string mp3 = Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530);
    auto a = Open(mp3);
    ASSERT_TRUE(a);
    EXPECT_NEAR(double(a->LengthBytes()) / (a->Rate() * a->Channels() * 2.0), 3.3, 1e-9);
    tandrel::EndDecoding();
    tandrel::SetDecodingInitFailureForTesting(true);
    EXPECT_FALSE(tandrel::InitDecoding());
    EXPECT_FALSE(Open(mp3));
    tandrel::SetDecodingInitFailureForTesting(false);
    ASSERT_TRUE(tandrel::InitDecoding());
    EXPECT_TRUE(Open(mp3));
}

TEST_F(DecoderTest, AudioAfterARunOfZerosOrNoiseIsFoundAgain) {
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
        EXPECT_FALSE(s.endedEarly);
    }
}

// Whole files (WMA made by ffmpeg among them) end where promised; cut ones know it.
TEST_F(DecoderTest, WholeAndCutFilesKnowWhatTheyPromised) {
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
        tandrel::Track f;
        ASSERT_EQ(tandrel::ProbeFile(whole.path, f), tandrel::Refusal::None);
        EXPECT_EQ(f.exactBytes, whole.exact);
        const Decoded d = DecodeAll(whole.path);
        EXPECT_FALSE(d.endedEarly);
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
        EXPECT_TRUE(s.endedEarly);
        EXPECT_GT(s.promisedBytes, s.pcm.size());
    }
    const Decoded cut = DecodeAll(dir.File("boundary.mp3"));
    EXPECT_FALSE(cut.endedEarly);
    EXPECT_FALSE(cut.exactLength);
    EXPECT_EQ(cut.lengthAtOpen, cut.bytes);
    EXPECT_NEAR(double(cut.bytes) / 4, 145530 / 2.0, 2 * 1152);
}

TEST_F(DecoderTest, MalformedFilesNeitherHangNorCrash) {
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
        auto h = Open(dir.File("d.mp3"));
        std::uint8_t block[20480];
        std::uint64_t got = 0;
        while (h && h->HasData() && got < bytes.size() * 40)
            got += h->Read(block, sizeof block);
        EXPECT_LT(got, bytes.size() * 40);
    }
}
