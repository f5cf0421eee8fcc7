#include "EncoderTestUtil.h"
#include "TestUtil.h"
#include "encoders/Wavtomp3.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>

using namespace bladeenc;
using enctest::RecordingSink;

namespace {

struct FrameInfo {
    int frames = 0;
    bool consistent = true; // every frame carries the first frame's flags and bitrate
    int version = 0;        // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    bool crc = false, priv = false, copyright = false, original = false;
    int mode = -1, kbps = 0, rate = 0;
};

// Walks every MP3 frame header of a file that has no tags.
FrameInfo ParseFrames(const std::string &data) {
    static const int kbpsV1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int kbpsV2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int rates[] = {44100, 48000, 32000};
    FrameInfo info;
    std::size_t at = 0;
    while (at + 4 <= data.size()) {
        const auto *h = reinterpret_cast<const unsigned char *>(data.data() + at);
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) {
            info.consistent = false;
            break;
        }
        const int version = (h[1] >> 3) & 3;
        const int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3;
        if (version == 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
            info.consistent = false;
            break;
        }
        FrameInfo f;
        f.version = version;
        f.crc = !(h[1] & 1);
        f.priv = h[2] & 1;
        f.mode = h[3] >> 6;
        f.copyright = (h[3] >> 3) & 1;
        f.original = (h[3] >> 2) & 1;
        f.kbps = version == 3 ? kbpsV1[bitrateIndex] : kbpsV2[bitrateIndex];
        f.rate = rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
        const int padding = (h[2] >> 1) & 1;
        const int length = (version == 3 ? 144 : 72) * f.kbps * 1000 / f.rate + padding;
        if (info.frames == 0) {
            info = f;
        } else if (f.crc != info.crc || f.priv != info.priv || f.mode != info.mode ||
                   f.copyright != info.copyright || f.original != info.original ||
                   f.kbps != info.kbps || f.rate != info.rate) {
            info.consistent = false;
        }
        ++info.frames;
        at += length;
    }
    if (at != data.size())
        info.consistent = false;
    return info;
}

struct Mp3Case {
    int rate, mode;
    unsigned kbps;
    bool copyright, crc, original, priv;
};

class Mp3Encode : public ::testing::TestWithParam<Mp3Case> {};

} // namespace

// Bitrates between the legal ones go to the nearest below the midpoint; the modes are checked
// in the frames written.
TEST(Mp3Settings, BitrateSnapping) {
    const unsigned in[] = {0, 36, 37, 67, 68, 120, 121, 288, 289, 100000};
    const unsigned out[] = {32, 32, 40, 64, 80, 112, 128, 256, 320, 320};
    for (std::size_t i = 0; i < std::size(in); ++i)
        EXPECT_EQ(WavToMp3::SnapBitrate(in[i]), out[i]) << in[i];
}

TEST_P(Mp3Encode, FramesCarryTheSettingsAndTheSignalSurvives) {
    const Mp3Case c = GetParam();
    const int channels = c.mode == 4 ? 1 : 2;
    const double hz = 440;
    const std::size_t frames = c.rate * 2 + 333;
    const auto pcm = enctest::Sine(c.rate, channels, frames, hz);
    testutil::TempDir dir;
    const std::string path = dir.File("out.mp3");

    RecordingSink sink;
    WavToMp3 enc(testutil::BinDir());
    const int chunk =
        enc.Open(path, c.rate, c.mode, c.kbps, c.copyright, c.crc, c.original, c.priv);
    ASSERT_GT(chunk, 0);
    ASSERT_EQ(chunk % (2 * channels), 0);
    const auto *bytes = reinterpret_cast<const char *>(pcm.data());
    const std::size_t total = pcm.size() * 2;
    std::size_t encoded = 0;
    for (std::size_t at = 0; at < total; at += chunk) {
        const int n =
            enc.Encode(bytes + at, static_cast<int>(std::min<std::size_t>(chunk, total - at)));
        ASSERT_GE(n, 0);
        encoded += n;
    }
    EXPECT_TRUE(enc.Close());
    EXPECT_TRUE(sink.shown.empty());

    const std::string file = testutil::ReadFile(path);
    EXPECT_GT(file.size(), encoded); // the flush added the last frames
    const FrameInfo info = ParseFrames(file);
    ASSERT_GT(info.frames, 0);
    EXPECT_TRUE(info.consistent);
    EXPECT_EQ(info.rate, c.rate);
    EXPECT_EQ(info.kbps, static_cast<int>(c.kbps));
    EXPECT_EQ(info.mode, c.mode - 1);
    EXPECT_EQ(info.crc, c.crc);
    EXPECT_EQ(info.copyright, c.copyright);
    EXPECT_EQ(info.original, c.original);
    EXPECT_EQ(info.priv, c.priv);

    EXPECT_EQ(testutil::ProbeStreamField(path, "channels"), std::to_string(channels));
    EXPECT_EQ(testutil::ProbeStreamField(path, "sample_rate"), std::to_string(c.rate));
    EXPECT_EQ(testutil::ProbeStreamField(path, "bit_rate"), std::to_string(c.kbps * 1000));
    const auto decoded = enctest::Decode(path, channels);
    const std::size_t frameSamples = info.version == 3 ? 1152 : 576;
    const std::size_t got = decoded.size() / channels;
    EXPECT_GE(got, frames);
    EXPECT_LE(got, frames + 2 * frameSamples + 1105);
    EXPECT_GT(enctest::ToneShare(decoded, channels, c.rate, hz), 0.9);
}

INSTANTIATE_TEST_SUITE_P(RatesModesBitrates, Mp3Encode,
                         ::testing::Values(Mp3Case{8000, 4, 32, false, false, false, false},
                                           Mp3Case{22050, 2, 128, false, true, false, false},
                                           Mp3Case{32000, 3, 192, false, false, true, false},
                                           Mp3Case{44100, 1, 320, false, false, false, true},
                                           Mp3Case{48000, 4, 96, true, true, true, true}));

TEST(Mp3Encoder, ShortInputComesOutOfTheFlush) {
    testutil::TempDir dir;
    const std::string path = dir.File("short.mp3");
    RecordingSink sink;
    WavToMp3 enc(testutil::BinDir());
    ASSERT_EQ(enc.Open(path, 44100, 1, 128, false, false, false, false), 1152 * 2 * 2);
    const auto pcm = enctest::Sine(44100, 2, 1000, 1000);
    EXPECT_EQ(enc.Encode(pcm.data(), static_cast<int>(pcm.size() * 2)), 0);
    EXPECT_EQ(enc.Encode(pcm.data(), 0), 0);
    EXPECT_TRUE(enc.Close());
    EXPECT_TRUE(sink.shown.empty());
    const auto info = ParseFrames(testutil::ReadFile(path));
    EXPECT_GE(info.frames, 1);
    EXPECT_TRUE(info.consistent);
    EXPECT_GE(enctest::Decode(path, 2).size() / 2, 1000u);
}

TEST(Mp3Encoder, OversizedChunksAndIllegalRates) {
    testutil::TempDir dir;
    RecordingSink sink;
    // 96000 Hz is resampled to 48000 Hz; 7000 Hz to 8000 Hz.
    for (int rate : {96000, 7000}) {
        const std::string path = dir.File("r" + std::to_string(rate) + ".mp3");
        WavToMp3 enc(testutil::BinDir());
        ASSERT_GT(enc.Open(path, rate, 4, 64, false, false, false, false), 0);
        const auto pcm = enctest::Sine(rate, 1, rate, 300);
        // all of it in one call, more than a chunk
        EXPECT_GE(enc.Encode(pcm.data(), static_cast<int>(pcm.size() * 2)), 0);
        EXPECT_TRUE(enc.Close());
        const int legal = rate == 96000 ? 48000 : 8000;
        EXPECT_EQ(testutil::ProbeStreamField(path, "sample_rate"), std::to_string(legal));
        const auto decoded = enctest::Decode(path, 1);
        EXPECT_NEAR(double(decoded.size()) / legal, 1.0, 0.2);
        EXPECT_GT(enctest::ToneShare(decoded, 1, legal, 300), 0.9);
    }
    EXPECT_TRUE(sink.shown.empty());
}

TEST(Mp3Encoder, FailuresAreReportedWithTheirMessages) {
    testutil::TempDir dir;
    {
        RecordingSink sink;
        WavToMp3 enc(testutil::BinDir());
        EXPECT_EQ(enc.Open(dir.File("a.mp3"), 0, 1, 128, false, false, false, false), -1);
        EXPECT_EQ(
            enc.Open(dir.File("no/such/folder.mp3"), 44100, 1, 128, false, false, false, false),
            -1);
        EXPECT_EQ(enc.Encode("\0\0\0\0", 4), -1);
        EXPECT_TRUE(enc.Close());
        ASSERT_EQ(sink.shown.size(), 2u);
        EXPECT_EQ(sink.shown[0].text, "Could not initialize Lame encoder");
        EXPECT_EQ(sink.shown[1].text, "Can not create the file.\n" +
                                          dir.File("no/such/folder.mp3") +
                                          "\nNo such file or directory");
        for (const auto &m : sink.shown) {
            EXPECT_EQ(m.caption, "Lame Encoder");
            EXPECT_EQ(m.icon, tandrel::MsgIcon::None);
            EXPECT_EQ(m.buttons, tandrel::MsgButtons::Ok);
        }
    }
    {
        // A full disk: the failed write is not reported as success.
        const std::string full = testutil::MakeFullDevice(dir);
        if (full.empty())
            GTEST_SKIP() << "cannot make a device here";
        RecordingSink sink;
        WavToMp3 enc(testutil::BinDir());
        const int chunk = enc.Open(full, 44100, 1, 320, false, false, false, false);
        ASSERT_GT(chunk, 0);
        const auto pcm = enctest::Sine(44100, 2, 44100, 1000);
        bool failed = false;
        for (std::size_t at = 0; at + chunk <= pcm.size() * 2 && !failed; at += chunk)
            failed = enc.Encode(reinterpret_cast<const char *>(pcm.data()) + at, chunk) == -1;
        EXPECT_TRUE(failed);
        EXPECT_TRUE(enc.WriteFailed());
        EXPECT_FALSE(enc.Close());
        ASSERT_EQ(sink.shown.size(), 1u);
        EXPECT_EQ(sink.shown[0].text,
                  "Could not write the file.\n" + full + "\nNo space left on device");
    }
}
