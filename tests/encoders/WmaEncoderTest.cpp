#include "EncoderTestUtil.h"
#include "TestUtil.h"
#include "encoders/Wavtowma.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

using enctest::RecordingSink;
using namespace wmaudsdk;

namespace {

// wmav2 at 44100 Hz codes 2048 samples per frame and holds one frame back.
constexpr std::size_t kFrame = 2048;
// The file may be longer than its input by the padded last frame and two silent frames.
constexpr double kSlack = 3.0 * kFrame / 44100 + 0.002;

std::size_t WriteAll(WavToWma &enc, const std::vector<std::int16_t> &pcm, int chunk) {
    const auto *bytes = reinterpret_cast<const char *>(pcm.data());
    const std::size_t total = pcm.size() * 2;
    std::size_t failures = 0;
    for (std::size_t at = 0; at < total; at += chunk)
        failures += !enc.Write(bytes + at, std::min<std::size_t>(chunk, total - at));
    return failures;
}

// Whether the ASF header's count of objects is the number of objects it holds.
bool HeaderCountsItsObjects(const std::string &path) {
    const std::string file = testutil::ReadFile(path);
    if (file.size() < 30)
        return false;
    auto le64 = [&](std::size_t at) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = v << 8 | std::uint8_t(file[at + i]);
        return v;
    };
    const std::uint64_t end = le64(16);
    std::uint32_t objects = 0;
    for (std::uint64_t at = 30; at + 24 <= end && at + 24 <= file.size(); ++objects)
        at += std::max<std::uint64_t>(le64(at + 16), 24);
    return objects == testutil::GetLE32(file, 24);
}

} // namespace

TEST(WmaEncoder, NoAudioIsLostAtTheEnd) {
    testutil::TempDir dir;
    RecordingSink sink;
    for (std::size_t frames : {kFrame * 64, kFrame * 64 + 777, std::size_t(44100 * 3)}) {
        const std::string path = dir.File(std::to_string(frames) + ".wma");
        WavToWma enc(testutil::BinDir());
        const int chunk = enc.Open(path, 44100, 2, 128000);
        ASSERT_EQ(chunk, 16384);
        EXPECT_EQ(WriteAll(enc, enctest::Sine(44100, 2, frames, 1000), chunk), 0u);
        EXPECT_TRUE(enc.Close());
        const auto decoded = enctest::Decode(path, 2);
        const std::size_t got = decoded.size() / 2;
        EXPECT_GE(got, frames);
        EXPECT_LE(got, frames + 2 * kFrame);
        EXPECT_GT(enctest::ToneShare(decoded, 2, 44100, 1000), 0.9);
        const double duration = testutil::ProbeDuration(path);
        EXPECT_GE(duration, double(frames) / 44100 - 0.001);
        EXPECT_LE(duration, double(frames) / 44100 + kSlack);
    }
    EXPECT_TRUE(sink.shown.empty());
}

TEST(WmaEncoder, MonoInputBecomesStereoAt44100) {
    testutil::TempDir dir;
    RecordingSink sink;
    const std::string path = dir.File("mono.wma");
    WavToWma enc(testutil::BinDir());
    ASSERT_EQ(enc.Open(path, 22050, 1, 64000), 16384);
    // Odd byte counts split sample frames across calls.
    EXPECT_EQ(WriteAll(enc, enctest::Sine(22050, 1, 22050 * 2, 500), 16383), 0u);
    EXPECT_TRUE(enc.Close());
    EXPECT_TRUE(sink.shown.empty());
    EXPECT_EQ(testutil::ProbeStreamField(path, "codec_name"), "wmav2");
    EXPECT_EQ(testutil::ProbeStreamField(path, "sample_rate"), "44100");
    EXPECT_EQ(testutil::ProbeStreamField(path, "channels"), "2");
    EXPECT_EQ(testutil::ProbeStreamField(path, "bit_rate"), "64000");
    EXPECT_NEAR(testutil::ProbeDuration(path), 2.0 + kSlack / 2, kSlack / 2);
    const auto decoded = enctest::Decode(path, 2);
    EXPECT_GT(enctest::ToneShare(decoded, 2, 44100, 500), 0.9);
}

// Attributes and markers reach the header and leave the audio as it was; bytes that are not
// UTF-8 do not spoil the header.
TEST(WmaEncoder, HeaderCarriesAttributesAndMarkers) {
    testutil::TempDir dir;
    RecordingSink sink;
    const auto pcm = enctest::Sine(44100, 2, 44100 * 2, 1000);
    const std::string plain = dir.File("plain.wma"), tagged = dir.File("tagged.wma");
    for (const std::string &path : {plain, tagged}) {
        WavToWma enc(testutil::BinDir());
        if (path == tagged) {
            enc.SetAttributes({{"Title", "Zoë – 東京 🎵"},
                               {"Author", "Björk"},
                               {"WM/AlbumTitle", "Ålbum"},
                               {"Description", "bad \xff byte"}});
            enc.SetMarkers({{"Anfang", 0.0}, {"Straße", 0.5}, {"", 1.2345678}});
        }
        ASSERT_EQ(enc.Open(path, 44100, 2, 128000), 16384);
        EXPECT_EQ(WriteAll(enc, pcm, 16384), 0u);
        EXPECT_TRUE(enc.Close());
    }
    EXPECT_TRUE(sink.shown.empty());
    auto tags = testutil::ProbeTags(tagged);
    EXPECT_EQ(tags["title"], "Zoë – 東京 🎵");
    EXPECT_EQ(tags["artist"], "Björk");
    EXPECT_EQ(tags["album"], "Ålbum");
    EXPECT_EQ(tags["comment"], "bad \uFFFD byte");
    const auto chapters = testutil::ProbeChapters(tagged);
    ASSERT_EQ(chapters.size(), 3u);
    const std::pair<double, std::string> expected[] = {
        {0, "Anfang"}, {0.5, "Straße"}, {1.2345678, ""}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(chapters[i].first, expected[i].first, 1e-6);
        EXPECT_EQ(chapters[i].second, expected[i].second);
    }
    EXPECT_TRUE(HeaderCountsItsObjects(tagged));
    EXPECT_TRUE(HeaderCountsItsObjects(plain));
    EXPECT_TRUE(testutil::ProbeChapters(plain).empty());
    EXPECT_EQ(testutil::Decode(tagged, 2), testutil::Decode(plain, 2));
}

TEST(WmaEncoder, RefusalsGiveTheirMessages) {
    testutil::TempDir dir;
    RecordingSink sink;
    WavToWma enc(testutil::BinDir());
    EXPECT_EQ(enc.Open(dir.File("no/such/folder.wma"), 44100, 2, 96000), -1);
    EXPECT_TRUE(enc.Close());
    EXPECT_EQ(enc.Open(dir.File("a.wma"), 44100, 3, 96000), -1);
    EXPECT_EQ(enc.Open(dir.File("b.wma"), 44100, 2, 1), -1);
    EXPECT_TRUE(enc.Close());
    EXPECT_TRUE(enc.Write(nullptr, 0));
    ASSERT_EQ(sink.shown.size(), 3u);
    EXPECT_EQ(sink.shown[0].text, "Failed to Create Audio Writer\n" +
                                      dir.File("no/such/folder.wma") +
                                      "\nNo such file or directory");
    EXPECT_EQ(sink.shown[1].text, "Failed to Set Input Format");
    EXPECT_EQ(sink.shown[2].text, "Failed to Set Output Format");
    for (const auto &m : sink.shown) {
        EXPECT_EQ(m.caption, "WMA Audio SDK");
        EXPECT_EQ(m.icon, tandrel::MsgIcon::None);
        EXPECT_EQ(m.buttons, tandrel::MsgButtons::Ok);
    }
}

TEST(WmaEncoder, FailedWritesAreNotSuccessAndTellWhy) {
    testutil::TempDir dir;
    const std::string full = testutil::MakeFullDevice(dir);
    if (full.empty())
        GTEST_SKIP() << "cannot make a device here";
    RecordingSink sink;
    WavToWma enc(testutil::BinDir());
    ASSERT_EQ(enc.Open(full, 44100, 2, 160000), 16384);
    const std::size_t failures = WriteAll(enc, enctest::Sine(44100, 2, 44100, 1000), 16384);
    const bool closed = enc.Close();
    EXPECT_TRUE(failures > 0 || !closed);
    EXPECT_EQ(ErrnoFromHResult(enc.LastError()), ENOSPC);
    EXPECT_TRUE(sink.shown.empty());
}

TEST(WmaWriterLibrary, MethodsSitAtTheirPlaces) {
    testutil::TempDir dir;
    void *lib = dlopen((testutil::BinDir() + "/wmaudsdk.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    auto create = reinterpret_cast<WMAudioCreateWriterFn>(dlsym(lib, "WMAudioCreateWriter"));
    ASSERT_NE(create, nullptr);
    EXPECT_LT(create(nullptr, nullptr), 0);
    IWMAudioWriter *w = nullptr;
    const std::string file = dir.File("v.wma");
    const std::u16string path(file.begin(), file.end());
    ASSERT_GE(create(path.c_str(), &w), 0);
    // Call through the raw table, as a caller built against the published layout does.
    using Count = std::uint32_t (*)(void *);
    using Status = HRESULT (*)(void *);
    using SetIn = HRESULT (*)(void *, const WAVEFORMATEX *);
    using SetOut = HRESULT (*)(void *, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t);
    using WriteFn = HRESULT (*)(void *, const std::uint8_t *, std::uint32_t);
    void **table = *reinterpret_cast<void ***>(w);
    EXPECT_EQ(reinterpret_cast<Count>(table[1])(w), 2u);
    EXPECT_EQ(reinterpret_cast<Count>(table[2])(w), 1u);
    EXPECT_LT(reinterpret_cast<Status>(table[3])(w), 0);
    EXPECT_LT(reinterpret_cast<Status>(table[6])(w), 0);
    // The header's second interface: query, set attribute, add marker; until the header.
    using Query = HRESULT (*)(void *, const void *, void **);
    using SetAttr = HRESULT (*)(void *, const char16_t *, const char16_t *);
    using Mark = HRESULT (*)(void *, const char16_t *, std::uint64_t);
    void *info = &dir;
    const GUID unknown{1, 2, 3, {4}};
    EXPECT_EQ(reinterpret_cast<Query>(table[0])(w, &unknown, &info), E_NOINTERFACE);
    EXPECT_EQ(info, nullptr);
    ASSERT_GE(reinterpret_cast<Query>(table[0])(w, &IID_IWMAudioHeaderInfo, &info), 0);
    void **infoTable = *reinterpret_cast<void ***>(info);
    EXPECT_GE(reinterpret_cast<SetAttr>(infoTable[3])(info, u"Title", u"T"), 0);
    EXPECT_GE(reinterpret_cast<Mark>(infoTable[4])(info, u"M", 5000000), 0);
    EXPECT_EQ(reinterpret_cast<Mark>(infoTable[4])(info, u"earlier", 10), E_INVALIDARG);
    WAVEFORMATEX f{1, 1, 8000, 16000, 2, 16, 0};
    EXPECT_GE(reinterpret_cast<SetIn>(table[4])(w, &f), 0);
    EXPECT_GE(reinterpret_cast<SetOut>(table[5])(w, 48000, 44100, 2, 0), 0);
    EXPECT_EQ(reinterpret_cast<SetAttr>(infoTable[3])(info, u"Author", u"A"), E_UNEXPECTED);
    EXPECT_EQ(reinterpret_cast<Mark>(infoTable[4])(info, u"late", 6000000), E_UNEXPECTED);
    EXPECT_EQ(reinterpret_cast<Count>(infoTable[2])(info), 1u);
    const auto pcm = enctest::Sine(8000, 1, 8000, 400);
    EXPECT_GE(reinterpret_cast<WriteFn>(table[7])(
                  w, reinterpret_cast<const std::uint8_t *>(pcm.data()), pcm.size() * 2),
              0);
    EXPECT_GE(reinterpret_cast<Status>(table[8])(w), 0);
    EXPECT_EQ(reinterpret_cast<Count>(table[2])(w), 0u);
    EXPECT_NEAR(testutil::ProbeDuration(file), 1.0 + kSlack / 2, kSlack / 2);
    EXPECT_EQ(testutil::ProbeTags(file)["title"], "T");
    EXPECT_EQ(testutil::ProbeChapters(file),
              (std::vector<std::pair<double, std::string>>{{0.5, "M"}}));
    dlclose(lib);
}
