#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestUtil.h"
#include "audio/Bass.h"
#include "audio/Probe.h"

#include <random>

using audiotest::Media;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

namespace {

struct Stream {
    std::string pcm;
    tandrel::StreamCompleteness completeness;
};

Stream Decode(const std::string &path) {
    Stream s;
    const bool wma = path.substr(path.size() - 4) == ".wma";
    HSTREAM h = wma ? BASS_WMA_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE)
                    : BASS_StreamCreateFile(0, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    EXPECT_NE(h, 0u) << path;
    if (!h)
        return s;
    char block[20480];
    while (BASS_ChannelIsActive(h)) {
        const DWORD n = BASS_ChannelGetData(h, block, sizeof block);
        if (n == DWORD(-1) || n == 0)
            break;
        s.pcm.append(block, n);
    }
    EXPECT_TRUE(tandrel::GetStreamCompleteness(h, s.completeness));
    BASS_StreamFree(h);
    return s;
}

std::string Noise(std::size_t bytes) {
    std::mt19937 random(7);
    std::string out(bytes, '\0');
    for (char &c : out)
        c = char(random());
    return out;
}

class Mp3Damage : public ::testing::Test {
protected:
    void SetUp() override { audiotest::EnsureBassReady(); }
};

TEST_F(Mp3Damage, OrdinaryFilesDecodeExactlyAsFfmpegDoes) {
    const std::string files[] = {
        Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530),
        Media("vbr.mp3", "lame --quiet -V 2 {in} {out}", 145530),
        Media("id3.mp3", "lame --quiet --add-id3v2 --tt Title --ta Artist {in} {out}", 145530),
        Media("plain.mp3", "lame --quiet -t -b 192 {in} {out}", 88200),
        Media("ffvbr.mp3", "ffmpeg -v error -i {in} -c:a libmp3lame -q:a 4 {out}", 70000),
        Media("half.mp3", "lame --quiet -V 5 --resample 22.05 {in} {out}", 44100)};
    TempDir dir;
    for (const std::string &f : files) {
        SCOPED_TRACE(f);
        const std::string raw = dir.File("ref.raw");
        ASSERT_EQ(testutil::Run("ffmpeg -v error -i " + testutil::Quote(f) + " -f s16le -y " +
                                testutil::Quote(raw))
                      .exitCode,
                  0);
        const Stream s = Decode(f);
        EXPECT_TRUE(s.pcm == ReadFile(raw)) << s.pcm.size() << " vs " << ReadFile(raw).size();
        EXPECT_FALSE(s.completeness.endedEarly);
    }
}

TEST_F(Mp3Damage, AudioAfterARunOfZerosOrNoiseIsFoundAgain) {
    const std::string plain = Media("plain.mp3", "lame --quiet -t -b 192 {in} {out}", 88200);
    const std::string bytes = ReadFile(plain);
    const std::size_t whole = Decode(plain).pcm.size();
    TempDir dir;
    const std::size_t half = bytes.size() / 2;
    const std::pair<std::string, std::string> runs[] = {{"zeros.mp3", std::string(3 << 20, '\0')},
                                                        {"noise.mp3", Noise(2 << 20)}};
    for (const auto &[name, run] : runs) {
        SCOPED_TRACE(name);
        WriteFile(dir.File(name), bytes.substr(0, half) + run + bytes.substr(half));
        const Stream s = Decode(dir.File(name));
        // At most the frame the run was put into is lost.
        EXPECT_GE(s.pcm.size(), whole - 2 * 1152 * 4);
        EXPECT_LE(s.pcm.size(), whole);
        EXPECT_FALSE(s.completeness.endedEarly);
    }
}

TEST_F(Mp3Damage, CutFilesKnowWhatTheyPromised) {
    const std::string tagged = Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530);
    const std::string plain = Media("plain.mp3", "lame --quiet -t -b 192 {in} {out}", 88200);
    const std::string wma =
        Media("v2.wma", "ffmpeg -v error -i {in} -c:a wmav2 -b:a 128k {out}", 145530);
    tandrel::ProbedFile f;
    ASSERT_EQ(tandrel::ProbeFile(tagged, f), tandrel::Refusal::None);
    EXPECT_EQ(f.exactBytes, 145530 * 4) << "the LAME tag states the length";
    ASSERT_EQ(tandrel::ProbeFile(plain, f), tandrel::Refusal::None);
    EXPECT_EQ(f.exactBytes, -1);
    ASSERT_EQ(tandrel::ProbeFile(wma, f), tandrel::Refusal::None);
    EXPECT_EQ(f.exactBytes, -1);
    for (const std::string &whole : {tagged, plain, wma})
        EXPECT_FALSE(Decode(whole).completeness.endedEarly) << whole;

    TempDir dir;
    const std::string t = ReadFile(tagged), p = ReadFile(plain), w = ReadFile(wma);
    // A cut at a frame boundary of the tagged file: only the frame count tells.
    const std::size_t frame = 417;
    std::size_t boundary = 0;
    while (boundary < t.size() / 2)
        boundary += frame + ((std::uint8_t(t[boundary + 2]) >> 1) & 1);
    ASSERT_EQ(std::uint8_t(t[boundary]), 0xFF);
    WriteFile(dir.File("boundary.mp3"), t.substr(0, boundary));
    WriteFile(dir.File("mid.mp3"), p.substr(0, p.size() / 2 + frame / 3));
    WriteFile(dir.File("cut.wma"), w.substr(0, w.size() / 2));
    for (const char *name : {"boundary.mp3", "mid.mp3", "cut.wma"}) {
        SCOPED_TRACE(name);
        const Stream s = Decode(dir.File(name));
        EXPECT_TRUE(s.completeness.endedEarly);
        EXPECT_GT(s.completeness.promisedBytes, s.pcm.size());
    }
    EXPECT_EQ(Decode(dir.File("boundary.mp3")).completeness.promisedBytes, 145530u * 4);
}

TEST_F(Mp3Damage, MalformedFilesNeitherHangNorCrash) {
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

} // namespace
