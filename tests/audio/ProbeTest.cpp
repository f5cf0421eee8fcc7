#include <gtest/gtest.h>

#include "AudioTestSupport.h"
#include "TestUtil.h"
#include "audio/Probe.h"

#include <chrono>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using audiotest::Media;
using audiotest::RecordingSink;
using namespace tandrel;
using testutil::TempDir;
using testutil::WriteFile;

TEST(RowText, SizeAndTimeTexts) {
    EXPECT_EQ(SizeText(0), "1 KB");
    EXPECT_EQ(SizeText(1023), "1023 KB");
    EXPECT_EQ(SizeText(1024), "1.0 MB");
    EXPECT_EQ(SizeText(1536), "1.5 MB");
    EXPECT_EQ(SizeText(2047), "1.9 MB");

    EXPECT_EQ(TimeText(0), "00:00");
    EXPECT_EQ(TimeText(3540), "59:00");
    EXPECT_EQ(TimeText(3725), "1:02:05");
    EXPECT_EQ(TimeText(36000), "10:00:00");

    EXPECT_EQ(StatusTimeText(3725), "01:02:05");
    EXPECT_EQ(StatusTimeText(450000), "125:00:00");
}

TEST(RowText, NamePartsAndExtensions) {
    EXPECT_EQ(ExtensionOf("/music/a.b/track"), "");
    EXPECT_EQ(ExtensionOf("/music/a.b/track.tar.WAV"), ".WAV");
    EXPECT_EQ(ExtensionOf("/music/x/track."), ".");
    EXPECT_EQ(ExtensionOf("/music/folder.mp3/"), "");
    EXPECT_EQ(FileNameOf("/music/x/t.mp3"), "t.mp3");
    EXPECT_EQ(FolderOf("/music/x/t.mp3"), "/music/x/");
    EXPECT_EQ(FolderOf("t.mp3"), "");
    EXPECT_TRUE(HasAudioExtension("/a/B.Wav"));
    EXPECT_TRUE(HasAudioExtension("/a/B.FLAC"));
    EXPECT_FALSE(HasAudioExtension("/a.wav/B"));
    EXPECT_FALSE(HasAudioExtension("/a/notes.txt"));
}

TEST(RowText, SortingIgnoresCaseAndKeepsDuplicates) {
    std::vector<std::string> names = {"/m/c.WMA", "/m/b.wav", "/m/A.mp3", "/m/b.wav", "/M/z.wav"};
    SortNamesForAdding(names);
    EXPECT_EQ(names, (std::vector<std::string>{"/m/A.mp3", "/m/b.wav", "/m/b.wav", "/m/c.WMA",
                                               "/M/z.wav"}));
    std::vector<std::string> odd = {"/m/\xff\xfe.wav", "/m/\xc3\xa9t\xc3\xa9.mp3", "/m/e.wav"};
    SortNamesForAdding(odd);
    EXPECT_EQ(odd.size(), 3u);
}

TEST(RowText, SortingComparesRunsOfDigitsByTheirValue) {
    std::vector<std::string> names = {"/m/Part 10.wav",  "/m/part 2.wav",    "/m/Part 1.wav",
                                      "/m/disc2/t9.mp3", "/m/disc10/t1.mp3", "/m/disc2/T10.mp3",
                                      "/m/Part.wav"};
    SortNamesForAdding(names);
    EXPECT_EQ(names, (std::vector<std::string>{"/m/disc2/t9.mp3", "/m/disc2/T10.mp3",
                                               "/m/disc10/t1.mp3", "/m/Part 1.wav", "/m/part 2.wav",
                                               "/m/Part 10.wav", "/m/Part.wav"}));
    // Numbers longer than any integer type, and equal values with leading zeros kept stable.
    std::vector<std::string> big = {"/m/a100000000000000000000000.wav",
                                    "/m/a99999999999999999999.wav", "/m/a007.wav", "/m/a7.wav",
                                    "/m/a07.wav"};
    SortNamesForAdding(big);
    EXPECT_EQ(big, (std::vector<std::string>{"/m/a007.wav", "/m/a7.wav", "/m/a07.wav",
                                             "/m/a99999999999999999999.wav",
                                             "/m/a100000000000000000000000.wav"}));
}

class Probe : public ::testing::Test {
protected:
    void SetUp() override { audiotest::EnsureDecodingReady(); }
};

TEST_F(Probe, Mp3AndWmaRows) {
    std::string stereo = Media("cbr.mp3", "lame --quiet -b 128 {in} {out}", 145530);
    std::string wma = Media("v2.wma", "ffmpeg -v error -i {in} -c:a wmav2 -b:a 128k {out}", 145530);
    Track f;
    ASSERT_EQ(ProbeFile(stereo, f), Refusal::None);
    RowTexts row = BuildRow(stereo, f, "Bits", "Mono", "Stereo");
    EXPECT_EQ(row.subItems[0], "44100 Hz");
    EXPECT_EQ(row.subItems[1], "Stereo");
    EXPECT_EQ(row.subItems[2], "16 Bits");
    EXPECT_EQ(row.subItems[3], SizeText(testutil::FileSize(stereo) / 1024));
    EXPECT_EQ(row.subItems[4], "00:03");
    ASSERT_EQ(ProbeFile(wma, f), Refusal::None);
    EXPECT_EQ(f.family, FormatFamily::Wma);
    EXPECT_EQ(f.container, "ASF");
    EXPECT_EQ(f.sampleRate, 44100u);
    EXPECT_EQ(f.seconds, 3u);
}

TEST_F(Probe, LongMp3ShowsHours) {
    // 95 copies of a one-minute 8 kHz file: valid, long, and made in a moment.
    const std::string minute =
        testutil::ReadFile(Media("minute.mp3", "lame --quiet -t -b 8 {in} {out}", 480000, 8000, 1));
    std::string hours;
    for (int i = 0; i < 95; ++i)
        hours += minute;
    TempDir dir;
    WriteFile(dir.File("95.mp3"), hours);
    Track f;
    ASSERT_EQ(ProbeFile(dir.File("95.mp3"), f), Refusal::None);
    EXPECT_EQ(TimeText(f.seconds).substr(0, 5), "1:35:");
}

// What is not a regular file is refused at once, never opened (a FIFO would block).
TEST_F(Probe, RefusalsCarryTheirKeys) {
    TempDir dir;
    Track f;
    RecordingSink sink;
    WriteFile(dir.File("notes.txt"), "hello");
    WriteFile(dir.File("bad.mp3"), "hello");
    WriteFile(dir.File("bad.wma"), "hello");
    ASSERT_EQ(mkdir(dir.File("folder.mp3").c_str(), 0700), 0);
    for (const char *name : {"pipe.wav", "pipe.mp3", "pipe.wma"})
        ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0);
    ASSERT_EQ(symlink(dir.File("pipe.mp3").c_str(), dir.File("link.mp3").c_str()), 0);
    ASSERT_EQ(symlink(dir.File("pipe.wav").c_str(), dir.File("link.wav").c_str()), 0);
    // Devices as root; otherwise missing files.
    mknod(dir.File("zero.mp3").c_str(), S_IFCHR | 0600, makedev(1, 5));
    mknod(dir.File("zero.wav").c_str(), S_IFCHR | 0600, makedev(1, 5));
    const std::pair<const char *, Refusal> cases[] = {
        {"notes.txt", Refusal::NotSupport},   {"folder.mp3", Refusal::NotMP3Info},
        {"bad.mp3", Refusal::NotMP3Info},     {"pipe.mp3", Refusal::NotMP3Info},
        {"link.mp3", Refusal::NotMP3Info},    {"zero.mp3", Refusal::NotMP3Info},
        {"missing.mp3", Refusal::NotMP3Info}, {"bad.wma", Refusal::NotWMAInfo},
        {"pipe.wma", Refusal::NotWMAInfo}};
    for (const auto &[name, refusal] : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ProbeFile(dir.File(name), f), refusal) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << name;
    }
    EXPECT_TRUE(sink.shown.empty()) << "only the WAV reader shows messages of its own";
    for (const char *name : {"pipe.wav", "link.wav", "zero.wav"})
        EXPECT_EQ(ProbeFile(dir.File(name), f), Refusal::NotPCM) << name;
    ASSERT_EQ(sink.shown.size(), 3u);
    for (const audiotest::Shown &shown : sink.shown) {
        EXPECT_EQ(shown.caption, "Borvik Tandrel");
        EXPECT_EQ(shown.text, "Cannot open the file!");
    }
}
