#include "EncoderTestUtil.h"
#include "TestUtil.h"
#include "encoders/Mp3Splice.h"
#include "encoders/Wavtomp3.h"
#include "encoders/Wavtowma.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <dlfcn.h>
#include <vector>

using enctest::RecordingSink;
using namespace bladeenc;

TEST(EncoderLibraries, AbsentLibrariesAreReportedOnce) {
    testutil::TempDir empty;
    testutil::TempDir dir;
    RecordingSink sink;
    {
        WavToMp3 mp3(empty.Path());
        EXPECT_EQ(mp3.Open(dir.File("a.mp3"), 44100, 1, 128, false, false, false, false), -1);
        EXPECT_EQ(mp3.Encode("\0\0", 2), -1);
        EXPECT_TRUE(mp3.Close());
    }
    {
        WavToWma wma(empty.Path());
        EXPECT_EQ(wma.Open(dir.File("a.wma"), 44100, 2, 128000), -1);
        EXPECT_FALSE(wma.Write("\0\0", 2));
        EXPECT_TRUE(wma.Close());
    }
    ASSERT_EQ(sink.shown.size(), 2u);
    EXPECT_EQ(sink.shown[0].caption, "Lame Encoder");
    EXPECT_EQ(sink.shown[0].text, "Could not load lame_enc.dll file");
    EXPECT_EQ(sink.shown[1].caption, "WMA Audio SDK");
    EXPECT_EQ(sink.shown[1].text, "Could not load wmaudsdk.dll file");
    EXPECT_FALSE(testutil::Exists(dir.File("a.mp3")));
    EXPECT_FALSE(testutil::Exists(dir.File("a.wma")));
}

TEST(EncoderLibraries, MissingEntryPointsAreNamed) {
    const char *names[] = {"beInitStream", "beEncodeChunk", "beVersion", "beDeinitStream",
                           "beCloseStream"};
    testutil::TempDir dir;
    for (int exported = 0; exported < 5; ++exported) {
        RecordingSink sink;
        WavToMp3 mp3(std::string(FAKE_LIB_DIR) + "/fake" + std::to_string(exported));
        EXPECT_EQ(mp3.Open(dir.File("a.mp3"), 44100, 1, 128, false, false, false, false), -1);
        EXPECT_TRUE(mp3.Close());
        ASSERT_EQ(sink.shown.size(), 1u);
        EXPECT_EQ(sink.shown[0].text,
                  std::string("Could not found ") + names[exported] + " library function");
    }
    RecordingSink sink;
    {
        WavToWma wma(std::string(FAKE_LIB_DIR) + "/fake0");
        EXPECT_EQ(wma.Open(dir.File("a.wma"), 44100, 2, 128000), -1);
    }
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_EQ(sink.shown[0].caption, "WMA Audio SDK");
    EXPECT_EQ(sink.shown[0].text, "Could not found WMAudioCreateWriter library function");
}

// A writer library without the header-info interface writes its files without tags.
TEST(EncoderLibraries, OldWmaWriterStillWrites) {
    testutil::TempDir dir;
    RecordingSink sink;
    WavToWma wma(std::string(FAKE_LIB_DIR) + "/old-wma");
    wma.SetAttributes({{"Title", "T"}});
    wma.SetMarkers({{"M", 1.0}});
    EXPECT_EQ(wma.Open(dir.File("a.wma"), 44100, 2, 128000), 16384);
    EXPECT_TRUE(wma.Write("\0\0\0\0", 4));
    EXPECT_TRUE(wma.Close());
    EXPECT_TRUE(sink.shown.empty());
}

TEST(EncoderLibraries, RefusedCompressionIsReported) {
    testutil::TempDir dir;
    RecordingSink sink;
    WavToMp3 mp3(std::string(FAKE_LIB_DIR) + "/fake5");
    ASSERT_EQ(mp3.Open(dir.File("a.mp3"), 44100, 1, 128, false, false, false, false), 4608);
    EXPECT_EQ(mp3.Encode("\0\0\0\0", 4), -1);
    EXPECT_TRUE(mp3.Close());
    ASSERT_EQ(sink.shown.size(), 1u);
    EXPECT_EQ(sink.shown[0].caption, "Lame Encoder");
    EXPECT_EQ(sink.shown[0].text, "Could not perform compression");
}

TEST(EncoderLibraries, LameLibraryRefusesBadCallsWithoutCrashing) {
    void *lib = dlopen((testutil::BinDir() + "/lame_enc.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto init = reinterpret_cast<BEINITSTREAM>(dlsym(lib, "beInitStream"));
    auto encode = reinterpret_cast<BEENCODECHUNK>(dlsym(lib, "beEncodeChunk"));
    auto deinit = reinterpret_cast<BEDEINITSTREAM>(dlsym(lib, "beDeinitStream"));
    auto close = reinterpret_cast<BECLOSESTREAM>(dlsym(lib, "beCloseStream"));
    auto version = reinterpret_cast<BEVERSION>(dlsym(lib, "beVersion"));
    ASSERT_TRUE(init && encode && deinit && close && version);

    DWORD samples = 0, size = 0, written = 0;
    HBE_STREAM s = 0;
    BE_CONFIG config{};
    EXPECT_NE(init(nullptr, &samples, &size, &s), 0u);
    EXPECT_NE(init(&config, &samples, &size, &s), 0u); // no sample rate
    config.format.mp3 = {44100, BE_MP3_MODE_JSTEREO, 128, 0, 0, 0, 0};
    config.dwConfig = BE_CONFIG_LAME;
    EXPECT_NE(init(&config, &samples, &size, &s), 0u);
    config.dwConfig = BE_CONFIG_MP3;
    ASSERT_EQ(init(&config, &samples, &size, &s), 0u);
    EXPECT_EQ(samples, 2304u);
    EXPECT_GE(size, 1.25 * samples + 7200);
    std::vector<BYTE> out(size);
    std::vector<short> pcm(samples * 2);
    EXPECT_EQ(encode(s + 1, samples, pcm.data(), out.data(), &written), BE_ERR_INVALID_HANDLE);
    EXPECT_NE(encode(s, samples, nullptr, out.data(), &written), 0u);
    EXPECT_NE(encode(s, samples, pcm.data(), nullptr, &written), 0u);
    EXPECT_NE(encode(s, samples * 2, pcm.data(), out.data(), &written), 0u); // above a chunk
    EXPECT_EQ(encode(s, samples, pcm.data(), out.data(), &written), 0u);
    EXPECT_EQ(deinit(s + 1, out.data(), &written), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(deinit(s, out.data(), &written), 0u);
    EXPECT_EQ(close(s), 0u);
    EXPECT_EQ(close(s), BE_ERR_INVALID_HANDLE);
    EXPECT_EQ(encode(s, samples, pcm.data(), out.data(), &written), BE_ERR_INVALID_HANDLE);
    BE_VERSION v{};
    version(&v);
    version(nullptr);
    EXPECT_EQ(v.byMajorVersion, 3);
    dlclose(lib);
}

// The library's LAME form of the settings takes an encoding quality: its default one encodes as
// the plain form does, a faster one differently, and a quality not stated as the form wants
// (its high byte the complement of the low one) is the default; malformed forms are refused.
TEST(EncoderLibraries, LameFormSetsTheQuality) {
    WavToMp3 library;
    const Api *api = library.Entries();
    ASSERT_TRUE(api);
    std::vector<std::int16_t> pcm(2 * 44100);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = std::int16_t(8000 * std::sin(0.05 * double(i)) + int(i * 7919 % 2001) - 1000);
    const BE_CONFIG plain = WavToMp3::MakeConfig(44100, 1, 320, false, true, false, false);
    const auto encode = [&](BE_CONFIG config) {
        mp3::EncodedRun run;
        std::vector<std::uint8_t> scratch;
        const std::atomic<bool> stop{false};
        const mp3::PcmSpan span{pcm.data(), pcm.size()};
        EXPECT_EQ(mp3::EncodeRun(*api, config, &span, 1, run, stop, scratch), mp3::RunResult::Done);
        return run.bytes;
    };
    const std::vector<std::uint8_t> byDefault = encode(plain);
    ASSERT_GT(byDefault.size(), 10000u);
    EXPECT_EQ(encode(WavToMp3::WithQuality(plain, 3)), byDefault);
    EXPECT_NE(encode(WavToMp3::WithQuality(plain, 7)), byDefault);
    BE_CONFIG unstated = WavToMp3::WithQuality(plain, 7);
    unstated.format.LHV1.nQuality = 7;
    EXPECT_EQ(encode(unstated), byDefault);

    DWORD samples = 0, size = 0;
    HBE_STREAM s = 0;
    BE_CONFIG bad = WavToMp3::WithQuality(plain, 7);
    bad.format.LHV1.dwStructVersion = 2;
    EXPECT_NE(api->initStream(&bad, &samples, &size, &s), BE_ERR_SUCCESSFUL);
    bad = WavToMp3::WithQuality(plain, 7);
    bad.format.LHV1.bEnableVBR = 1;
    EXPECT_NE(api->initStream(&bad, &samples, &size, &s), BE_ERR_SUCCESSFUL);
    bad = WavToMp3::WithQuality(plain, 7);
    bad.format.LHV1.bNoRes = 1;
    EXPECT_NE(api->initStream(&bad, &samples, &size, &s), BE_ERR_SUCCESSFUL);
}
