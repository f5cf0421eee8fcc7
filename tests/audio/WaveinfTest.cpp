#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestUtil.h"
#include "audio/Waveinf.h"

#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

using audiotest::RecordingSink;
using testutil::BuildWav;
using testutil::TempDir;
using testutil::WavSpec;
using testutil::WriteFile;

namespace {

const std::string kInvalid = "This is not a valid Wave file.";

struct Outcome {
    bool ok;
    TWaveInfo info;
    std::vector<audiotest::Shown> shown;
};

Outcome Read(const std::string &path) {
    RecordingSink sink;
    Outcome o{};
    o.ok = ReadWaveInfo(path, o.info);
    o.shown = sink.shown;
    return o;
}

Outcome ReadBytes(const std::string &bytes) {
    TempDir dir;
    WriteFile(dir.File("x.wav"), bytes);
    return Read(dir.File("x.wav"));
}

void ExpectOneMessage(const Outcome &o, const std::string &caption, const std::string &text) {
    EXPECT_FALSE(o.ok);
    ASSERT_EQ(o.shown.size(), 1u);
    EXPECT_EQ(o.shown[0].caption, caption);
    EXPECT_EQ(o.shown[0].text, text);
    EXPECT_EQ(o.shown[0].icon, tandrel::MsgIcon::None);
}

} // namespace

TEST(Waveinf, AcceptedHeaderVariants) {
    WavSpec canonical;
    canonical.data = std::string(1764000, '\0');
    TempDir dir;
    WriteFile(dir.File("c.wav"), BuildWav(canonical));
    chmod(dir.File("c.wav").c_str(), 0444); // read-only input is fine: nothing is written
    Outcome o = Read(dir.File("c.wav"));
    ASSERT_TRUE(o.ok);
    EXPECT_TRUE(o.shown.empty());
    EXPECT_EQ(o.info.Channels, 2);
    EXPECT_EQ(o.info.SampleRate, 44100);
    EXPECT_EQ(o.info.BitsPerSample, 16);
    EXPECT_EQ(o.info.DataSize, 1764000u);
    EXPECT_EQ(o.info.FileSize, testutil::FileSize(dir.File("c.wav")));
    EXPECT_EQ(o.info.Seconds, 10u);

    WavSpec shortBy1 = canonical;
    shortBy1.data.pop_back();
    EXPECT_EQ(ReadBytes(BuildWav(shortBy1)).info.Seconds, 9u);

    WavSpec fmt18 = canonical;
    fmt18.formatSize = 18;
    fmt18.data = "abcd";
    o = ReadBytes(BuildWav(fmt18));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 4u);

    WavSpec list = canonical;
    list.data = std::string(400, '\0');
    list.extraChunks = {{"LIST", std::string(26, 'x')}, {"fact", std::string(3, 'y')}};
    std::string bytes = BuildWav(list);
    o = ReadBytes(bytes);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 400u);
    EXPECT_EQ(o.info.FileSize, bytes.size() - (26 + 8) - (3 + 8));

    WavSpec pcm24 = canonical;
    pcm24.bits = 24;
    pcm24.channels = 1;
    pcm24.data = std::string(3 * 48000, '\0');
    pcm24.sampleRate = 48000;
    o = ReadBytes(BuildWav(pcm24));
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.BitsPerSample, 24);
    EXPECT_EQ(o.info.Seconds, 1u);
}

TEST(Waveinf, FilesMadeByRealTools) {
    TempDir dir;
    const std::string sox = dir.File("sox.wav"), ff = dir.File("ff.wav");
    ASSERT_EQ(testutil::Run("sox -n -r 22050 -c 1 -b 8 " + sox + " synth 3 sine 300").exitCode, 0);
    // ffmpeg puts a LIST chunk before the data.
    ASSERT_EQ(testutil::Run("ffmpeg -v error -f lavfi -i sine=d=2.5:r=48000 -ac 2 " + ff).exitCode,
              0);
    Outcome o = Read(sox);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.SampleRate, 22050);
    EXPECT_EQ(o.info.Channels, 1);
    EXPECT_EQ(o.info.BitsPerSample, 8);
    EXPECT_EQ(o.info.Seconds, 3u);
    o = Read(ff);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 48000u * 4 * 5 / 2);
    EXPECT_LT(o.info.FileSize, testutil::FileSize(ff));
}

TEST(Waveinf, RefusalsShowOneMessageEach) {
    WavSpec base;
    base.data = std::string(64, '\0');
    WavSpec f = base;
    f.formatTag = 3;
    f.bits = 32;
    ExpectOneMessage(ReadBytes(BuildWav(f)), "ERROR", kInvalid);
    f = base;
    f.formatTag = 0xFFFE;
    f.formatSize = 40;
    ExpectOneMessage(ReadBytes(BuildWav(f)), "ERROR", "Can not support 24bit or 32bit Wave file.");
    f = base;
    f.bits = 12;
    ExpectOneMessage(ReadBytes(BuildWav(f)), "Borvik Tandrel", "Not PCM formats!");
    std::string noFmt = BuildWav(base);
    noFmt.replace(12, 4, "junk");
    ExpectOneMessage(ReadBytes(noFmt), "ERROR", kInvalid);
    ExpectOneMessage(ReadBytes("RIFF\0\0\0\0WAVEfmt "), "ERROR", kInvalid);
    ExpectOneMessage(Read("/nonexistent/missing.wav"), "Borvik Tandrel", "Cannot open the file!");
}

TEST(Waveinf, BrokenHeadersAreRefusedNeverDividedOrWalkedPastTheEnd) {
    WavSpec base;
    base.data = std::string(64, '\0');
    std::string endsBeforeData = BuildWav(base).substr(0, 36);
    ExpectOneMessage(ReadBytes(endsBeforeData), "ERROR", kInvalid);

    WavSpec huge = base;
    huge.extraChunks = {{"LIST", "abc"}};
    std::string bytes = BuildWav(huge);
    bytes.replace(40, 4, std::string("\xF0\xFF\xFF\x7F", 4));
    ExpectOneMessage(ReadBytes(bytes), "ERROR", kInvalid);

    for (auto [channels, rate] : {std::pair{0, 44100}, {2, 0}, {2, -1}}) {
        WavSpec z = base;
        z.channels = static_cast<std::uint16_t>(channels);
        z.sampleRate = static_cast<std::uint32_t>(rate);
        Outcome o = ReadBytes(BuildWav(z));
        EXPECT_FALSE(o.ok) << channels << " " << rate;
        EXPECT_EQ(o.shown.size(), 1u);
    }

    // Thousands of empty chunks before the data are walked quickly.
    WavSpec many = base;
    many.extraChunks.assign(20000, {"junk", ""});
    Outcome o = ReadBytes(BuildWav(many));
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 64u);
}

TEST(Waveinf, NonRegularFilesAreRefusedWithoutOpening) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.File("pipe.wav").c_str(), 0600), 0);
    ASSERT_EQ(mkdir(dir.File("folder.wav").c_str(), 0700), 0);
    ASSERT_EQ(symlink(dir.File("pipe.wav").c_str(), dir.File("link.wav").c_str()), 0);
    for (const char *name : {"pipe.wav", "folder.wav", "link.wav"}) {
        auto start = std::chrono::steady_clock::now();
        ExpectOneMessage(Read(dir.File(name)), "Borvik Tandrel", "Cannot open the file!");
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << name;
    }
    ExpectOneMessage(Read("/dev/zero"), "Borvik Tandrel", "Cannot open the file!");
}

TEST(Waveinf, DataLargerThanTwoGibibytes) {
    TempDir dir;
    WavSpec big;
    big.declaredDataSize = 3000000000LL;
    const std::string path = dir.File("big.wav");
    WriteFile(path, BuildWav(big));
    ASSERT_EQ(truncate(path.c_str(), 44 + 3000000000LL), 0); // sparse: no blocks written
    Outcome o = Read(path);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.info.DataSize, 3000000000u);
    EXPECT_EQ(o.info.FileSize, 3000000044u);
    EXPECT_EQ(o.info.Seconds, 17006u);
}
