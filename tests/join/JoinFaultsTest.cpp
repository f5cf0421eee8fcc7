#include "JoinTestSupport.h"
#include "join/FileIo.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

const PcmFormat kCd{44100, 2, 16};

std::string MakeWav(const TempDir &dir, const std::string &name, std::size_t bytes, char fill,
                    std::uint16_t channels = 2, std::uint32_t rate = 44100) {
    WavSpec spec;
    spec.channels = channels;
    spec.sampleRate = rate;
    spec.data = std::string(bytes, fill);
    WriteFile(dir.File(name), BuildWav(spec));
    return dir.File(name);
}

TEST(JoinFaults, BadInputsStopTheJoinAndLeaveTheOldOutput) {
    TempDir dir, tmp;
    const std::string good = MakeWav(dir, "good.wav", 20000, 'g');
    WavSpec notFmt;
    notFmt.formatSize = 16;
    std::string bytes = BuildWav(notFmt);
    bytes.replace(12, 4, "junk");
    WriteFile(dir.File("notfmt.wav"), bytes);
    WavSpec compressed;
    compressed.formatTag = 3;
    WriteFile(dir.File("float.wav"), BuildWav(compressed));
    WriteFile(dir.File("nodata.wav"), BuildWav(WavSpec{}).substr(0, 36));
    const std::pair<std::string, std::string> cases[] = {
        {dir.File("missing.wav"), "Error: Could not open '" + dir.File("missing.wav") + "'"},
        {dir.File("notfmt.wav"), "Error: This is not a valid Wave file"},
        {dir.File("float.wav"), "Error: Can not handle compressed Wave file"},
        {dir.File("nodata.wav"), "Error: This is not a valid Wave file"},
        {dir.File("missing.mp3"), "Error: Could not open '" + dir.File("missing.mp3") + "'"},
    };
    WriteFile(dir.File("out.wav"), "OLD");
    for (const auto &[bad, message] : cases) {
        MessageLog log;
        Recorder rec;
        EXPECT_EQ(
            RunJoin(WavJoin(tmp, {{good, kCd}, {bad, kCd}, {good, kCd}}, dir.File("out.wav")), rec),
            JoinStatus::Failed);
        EXPECT_EQ(log.shown, std::vector<std::string>{message});
        EXPECT_TRUE(rec.bar2 == std::vector<int>{0}) << "no output stage";
        EXPECT_EQ(ReadFile(dir.File("out.wav")), "OLD");
        EXPECT_TRUE(Listing(tmp.Path()).empty());
    }
    EXPECT_EQ(Listing(dir.Path()).size(), 5u);
}

TEST(JoinFaults, MoreThanTwoChannelsAreRefusedBeforeAnythingIsWritten) {
    TempDir dir, tmp;
    const std::string quad = MakeWav(dir, "quad.wav", 8000, 'q', 4);
    const std::string slow = MakeWav(dir, "slow.wav", 8000, 's', 2, 22050);
    MessageLog log;
    Recorder rec;
    JoinRequest req =
        WavJoin(tmp, {{slow, {22050, 2, 16}}, {quad, {44100, 4, 16}}}, dir.File("out.wav"));
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_NE(log.shown[0].find("Error: Can not join '" + slow + "'"), std::string::npos);
    EXPECT_TRUE(rec.bar1.empty());

    req = WavJoin(tmp, {{quad, {44100, 4, 16}}, {quad, {44100, 4, 16}}}, dir.File("out.mp3"));
    req.output.kind = OutputKind::Mp3;
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 2u);
    EXPECT_EQ(log.shown[1],
              "Error: Can not join '" + quad + "': MP3 output takes at most two channels");
    EXPECT_FALSE(Exists(dir.File("out.wav")));
    EXPECT_EQ(Listing(dir.Path()).size(), 2u);
    EXPECT_TRUE(Listing(tmp.Path()).empty());

    req = WavJoin(tmp, {{quad, {44100, 4, 16}}, {quad, {44100, 4, 16}}}, dir.File("out.wav"));
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Ok);
    EXPECT_EQ(ProbeStreamField(dir.File("out.wav"), "channels"), "4");
}

TEST(JoinFaults, StopStandsForTheRestOfTheJoin) {
    TempDir dir, tmp;
    const std::string a = MakeWav(dir, "a.wav", 30720, 'a');
    const std::string b = MakeWav(dir, "b.wav", 30720, 'b');
    Recorder rec;
    rec.stopAt = 1;
    EXPECT_EQ(RunJoin(WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.File("out.wav")), rec),
              JoinStatus::Stopped);
    // One block of each input went in; the output stage wrote its first block.
    EXPECT_EQ(ReadFile(dir.File("out.wav")).substr(44), std::string(10240, 'a'));
    EXPECT_EQ(rec.bar1, (std::vector<int>{0, 33, 33}));
    EXPECT_TRUE(Listing(tmp.Path()).empty());
}

TEST(JoinFaults, CancelledJoinOntoOneOfItsInputsLeavesItIntact) {
    TempDir dir, tmp;
    const std::string a = MakeWav(dir, "a.wav", 30720, 'a');
    const std::string b = MakeWav(dir, "b.wav", 30720, 'b');
    const std::string before = ReadFile(a);
    for (bool direct : {false, true}) {
        Recorder rec;
        rec.stopAt = 2;
        JoinRequest req = WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.Path() + "/./a.wav");
        req.direct = direct;
        EXPECT_EQ(RunJoin(req, rec), JoinStatus::Stopped);
        EXPECT_EQ(ReadFile(a), before);
        EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"a.wav", "b.wav"}));
    }
    Recorder rec;
    ASSERT_EQ(RunJoin(WavJoin(tmp, {{a, kCd}, {b, kCd}}, a), rec), JoinStatus::Ok);
    EXPECT_EQ(DataChunk(ReadFile(a)), std::string(30720, 'a') + std::string(30720, 'b'));
}

TEST(JoinFaults, DiscardOnStopLeavesTheOldOutputAndNoPartialFile) {
    TempDir dir, tmp;
    const std::string a = MakeWav(dir, "a.wav", 30720, 'a');
    const std::string b = MakeWav(dir, "b.wav", 30720, 'b');
    WriteFile(dir.File("out.wav"), "OLD");
    for (bool direct : {false, true}) {
        for (int stopAt : {1, 4}) {
            Recorder rec;
            rec.stopAt = stopAt;
            JoinRequest req = WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.File("out.wav"));
            req.direct = direct;
            req.discardOnStop = true;
            EXPECT_EQ(RunJoin(req, rec), JoinStatus::Stopped);
            EXPECT_EQ(ReadFile(dir.File("out.wav")), "OLD");
            EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"a.wav", "b.wav", "out.wav"}));
            EXPECT_TRUE(Listing(tmp.Path()).empty());
        }
    }
}

TEST(JoinFaults, JoinsSharingTheTemporaryNameNeitherMeetNorFollowLinks) {
    TempDir dir, tmp;
    WriteFile(dir.File("victim"), "precious");
    ASSERT_EQ(symlink(dir.File("victim").c_str(), tmp.File("AudioTemp.pcm").c_str()), 0);
    const std::string a = MakeWav(dir, "a.wav", 300000, 'a');
    const std::string b = MakeWav(dir, "b.wav", 300000, 'b');

    // Both joins meet at their first block: the first looks at the folder, then both go on.
    struct Meeting {
        std::atomic<int> started{0};
        std::atomic<bool> looked{false};
        std::vector<std::string> seen;
        std::vector<unsigned> modes;
    } meeting;
    class Meet : public Recorder {
    public:
        Meet(Meeting &m, const std::string *folder) : m_(m), folder_(folder) {}
        bool ProcessEventsAndShouldStop() override {
            if (checks++ > 0)
                return false;
            ++m_.started;
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            auto wait = [&](auto ready) {
                while (!ready() && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            };
            wait([&] { return m_.started >= 2; });
            if (folder_) {
                m_.seen = Listing(*folder_);
                for (const std::string &name : m_.seen) {
                    struct stat st {};
                    lstat((*folder_ + "/" + name).c_str(), &st);
                    m_.modes.push_back(st.st_mode & 0777);
                }
                m_.looked = true;
            }
            wait([&] { return m_.looked.load(); });
            return false;
        }

    private:
        Meeting &m_;
        const std::string *folder_;
    };
    Meet first(meeting, &tmp.Path()), second(meeting, nullptr);
    const std::vector<std::string> &during = meeting.seen;
    JoinStatus s1, s2;
    std::thread t1([&] {
        s1 = RunJoin(WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.File("ab.wav")), first);
    });
    std::thread t2([&] {
        s2 = RunJoin(WavJoin(tmp, {{b, kCd}, {a, kCd}}, dir.File("ba.wav")), second);
    });
    t1.join();
    t2.join();
    EXPECT_EQ(s1, JoinStatus::Ok);
    EXPECT_EQ(s2, JoinStatus::Ok);
    // Unnamed temporary files; named ones only where the file system has no unnamed files.
    ASSERT_TRUE(during.size() == 1u || during.size() == 3u);
    for (std::size_t i = 0; i < during.size(); ++i) {
        if (during[i] == "AudioTemp.pcm")
            continue;
        EXPECT_EQ(during[i].substr(0, 10), "AudioTemp-");
        EXPECT_EQ(during[i].substr(during[i].size() - 4), ".pcm");
        EXPECT_EQ(meeting.modes[i], 0600u);
    }
    EXPECT_EQ(DataChunk(ReadFile(dir.File("ab.wav"))),
              std::string(300000, 'a') + std::string(300000, 'b'));
    EXPECT_EQ(DataChunk(ReadFile(dir.File("ba.wav"))),
              std::string(300000, 'b') + std::string(300000, 'a'));
    EXPECT_EQ(ReadFile(dir.File("victim")), "precious");
    EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"AudioTemp.pcm"});
}

TEST(JoinFaults, FullDiskIsReportedAndKeepsTheOldOutput) {
    TempDir dir, tmp;
    SmallDisk disk(dir.File("full"));
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const std::string a = MakeWav(dir, "a.wav", 1500000, 'a');
    const std::string full = dir.File("full");
    WriteFile(full + "/out.wav", "OLD");

    MessageLog log;
    Recorder rec;
    EXPECT_EQ(RunJoin(WavJoin(tmp, {{a, kCd}}, full + "/out.wav"), rec), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_EQ(log.shown[0].find("Error: Cannot creat the output file.\n" + full + "/out.wav\n"),
              0u);
    EXPECT_NE(log.shown[0].find("No space left on device"), std::string::npos);
    EXPECT_EQ(ReadFile(full + "/out.wav"), "OLD");
    EXPECT_EQ(Listing(full), std::vector<std::string>{"out.wav"});
    EXPECT_TRUE(Listing(tmp.Path()).empty());

    // The temporary file on the full disk.
    JoinRequest req = WavJoin(tmp, {{a, kCd}}, dir.File("out.wav"));
    req.tempPcmPath = full + "/AudioTemp.pcm";
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 2u);
    EXPECT_NE(log.shown[1].find("No space left on device"), std::string::npos);
    EXPECT_FALSE(Exists(dir.File("out.wav")));
    EXPECT_EQ(Listing(full), std::vector<std::string>{"out.wav"});
}

TEST(JoinFaults, PartialFrameAtTheEndOfAnInputIsDropped) {
    TempDir dir, tmp;
    const std::string a = MakeWav(dir, "a.wav", 4001, 'a');
    const std::string b = MakeWav(dir, "b.wav", 4000, 'b');
    Recorder rec;
    ASSERT_EQ(RunJoin(WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.File("o.wav")), rec), JoinStatus::Ok);
    EXPECT_EQ(DataChunk(ReadFile(dir.File("o.wav"))),
              std::string(4000, 'a') + std::string(4000, 'b'));
}

} // namespace
