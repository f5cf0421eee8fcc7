#include "JoinTestSupport.h"
#include "WavBytes.h"
#include "common/FileIo.h"
#include "join/WavWriter.h"

#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;
using namespace wavbytes;

namespace {

const PcmFormat kCd{44100, 2, 16};

// Truncates a file once the first block of the join has gone in.
class Truncating : public Recorder {
public:
    Truncating(std::string path, off_t length) : path_(std::move(path)), length_(length) {}
    void Progress1(int percent) override {
        Recorder::Progress1(percent);
        if (percent > 0 && !done_)
            done_ = ::truncate(path_.c_str(), length_) == 0;
    }

private:
    std::string path_;
    off_t length_;
    bool done_ = false;
};

struct Outcome {
    JoinStatus status;
    std::vector<std::string> shown;
    std::string data; // of the output, when there is one
};

Outcome JoinOne(const TempDir &dir, const JoinInput &input, Recorder &&rec = Recorder{}) {
    TempDir tmp;
    MessageLog log;
    ::unlink(dir.File("out.wav").c_str());
    Outcome o{RunJoin(WavJoin(tmp, {input}, dir.File("out.wav")), rec), log.shown, ""};
    if (Exists(dir.File("out.wav")))
        o.data = DataChunk(ReadFile(dir.File("out.wav")));
    EXPECT_TRUE(Listing(tmp.Path()).empty());
    return o;
}

TEST(JoinFaults, BadInputsStopTheJoinAndLeaveTheOldOutput) {
    TempDir dir, tmp;
    const std::string good = WavFile(dir, "good.wav", 20000, 'g');
    WriteFile(dir.File("notfmt.wav"), BuildWav(WavLayout{}).replace(12, 4, "junk"));
    WavLayout compressed;
    compressed.formatTag = 3;
    WriteFile(dir.File("float.wav"), BuildWav(compressed));
    WriteFile(dir.File("nodata.wav"), BuildWav(WavLayout{}).substr(0, 36));
    WavFile(dir, "fast.wav", 4000, 'f', 2, 100000000);
    WriteFile(dir.File("replaced.wav"), "ID3\x04" + std::string(400, '\0'));
    const auto cannotJoin = [&](const std::string &name, const std::string &why) {
        return "Error: Can not join '" + dir.File(name) + "': " + why;
    };
    const std::string invalid = "it is not a valid Wave file";
    const std::pair<std::string, std::string> cases[] = {
        {dir.File("missing.wav"),
         "Error: Could not open '" + dir.File("missing.wav") + "': No such file or directory"},
        {dir.File("notfmt.wav"), cannotJoin("notfmt.wav", invalid)},
        {dir.File("float.wav"), cannotJoin("float.wav", "it is a compressed Wave file")},
        {dir.File("nodata.wav"), cannotJoin("nodata.wav", invalid)},
        {dir.File("fast.wav"), cannotJoin("fast.wav", invalid)},
        {dir.File("replaced.wav"), cannotJoin("replaced.wav", invalid + " (it is an MP3 file)")},
        {dir.File("missing.mp3"),
         "Error: Could not open '" + dir.File("missing.mp3") + "': No such file or directory"},
    };
    WriteFile(dir.File("out.wav"), "OLD");
    for (const auto &[bad, message] : cases) {
        MessageLog log;
        Recorder rec;
        // Rows listed as wave files; the file they name has gone or changed since.
        const bool wav = bad.substr(bad.size() - 4) == ".wav";
        const JoinInput row{bad, kCd, -1, wav ? InputReader::Wav : InputReader::None};
        EXPECT_EQ(RunJoin(WavJoin(tmp, {{good, kCd}, row, {good, kCd}}, dir.File("out.wav")), rec),
                  JoinStatus::Failed);
        EXPECT_EQ(log.shown, std::vector<std::string>{message});
        EXPECT_TRUE(rec.bar2 == std::vector<int>{0}) << "no output stage";
        EXPECT_EQ(ReadFile(dir.File("out.wav")), "OLD");
        EXPECT_TRUE(Listing(tmp.Path()).empty());
    }
    EXPECT_EQ(Listing(dir.Path()).size(), 7u);
}

TEST(JoinFaults, MoreThanTwoChannelsAreRefusedBeforeAnythingIsWritten) {
    TempDir dir, tmp;
    const std::string quad = WavFile(dir, "quad.wav", 8000, 'q', 4);
    const std::string slow = WavFile(dir, "slow.wav", 8000, 's', 2, 22050);
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

TEST(JoinFaults, StopStandsForTheRestOfTheJoinAndMayDiscardTheOutput) {
    TempDir dir, tmp;
    const std::string a = WavFile(dir, "a.wav", 30720, 'a');
    const std::string b = WavFile(dir, "b.wav", 30720, 'b');
    Recorder rec;
    rec.stopAt = 1;
    EXPECT_EQ(RunJoin(WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.File("out.wav")), rec),
              JoinStatus::Stopped);
    // One block of each input went in; the output stage copied its first range: all of it.
    EXPECT_EQ(ReadFile(dir.File("out.wav")).substr(44),
              std::string(10240, 'a') + std::string(10240, 'b'));
    EXPECT_EQ(rec.bar1, (std::vector<int>{0, 33, 33}));

    WriteFile(dir.File("out.wav"), "OLD");
    for (bool direct : {false, true}) {
        // The command line copies each input in one range: its second check is b's.
        for (int stopAt : {1, direct ? 2 : 4}) {
            Recorder discard;
            discard.stopAt = stopAt;
            JoinRequest req = WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.File("out.wav"));
            req.direct = direct;
            req.discardOnStop = true;
            EXPECT_EQ(RunJoin(req, discard), JoinStatus::Stopped);
            EXPECT_EQ(ReadFile(dir.File("out.wav")), "OLD");
            EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"a.wav", "b.wav", "out.wav"}));
        }
    }
    EXPECT_TRUE(Listing(tmp.Path()).empty());
}

TEST(JoinFaults, CancelledJoinOntoOneOfItsInputsLeavesItIntact) {
    TempDir dir, tmp;
    const std::string a = WavFile(dir, "a.wav", 30720, 'a');
    const std::string b = WavFile(dir, "b.wav", 30720, 'b');
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

// Runs a step at the join's first event check, while its temporary file is open.
class AtFirstCheck : public Recorder {
public:
    explicit AtFirstCheck(std::function<void()> step) : step_(std::move(step)) {}
    bool ProcessEventsAndShouldStop() override {
        if (checks++ == 0)
            step_();
        return false;
    }

private:
    std::function<void()> step_;
};

TEST(JoinFaults, JoinsSharingTheTemporaryNameNeitherMeetNorFollowLinks) {
    TempDir dir, tmp;
    WriteFile(dir.File("victim"), "precious");
    ASSERT_EQ(symlink(dir.File("victim").c_str(), tmp.File("AudioTemp.pcm").c_str()), 0);
    const std::string a = WavFile(dir, "a.wav", 300000, 'a');
    const std::string b = WavFile(dir, "b.wav", 300000, 'b');
    // A second join runs inside the first; it looks at the folder while both are under way.
    std::vector<std::pair<std::string, unsigned>> during; // name, mode
    AtFirstCheck inner([&] {
        for (const std::string &name : Listing(tmp.Path())) {
            struct stat st {};
            lstat(tmp.File(name).c_str(), &st);
            during.emplace_back(name, st.st_mode & 0777);
        }
    });
    JoinStatus second = JoinStatus::Failed;
    AtFirstCheck outer([&] {
        second = RunJoin(WavJoin(tmp, {{b, kCd}, {a, kCd}}, dir.File("ba.wav")), inner);
    });
    EXPECT_EQ(RunJoin(WavJoin(tmp, {{a, kCd}, {b, kCd}}, dir.File("ab.wav")), outer),
              JoinStatus::Ok);
    EXPECT_EQ(second, JoinStatus::Ok);
    // Unnamed temporary files; named ones only where the file system has no unnamed files.
    ASSERT_TRUE(during.size() == 1u || during.size() == 3u);
    for (const auto &[name, mode] : during) {
        if (name == "AudioTemp.pcm")
            continue;
        EXPECT_EQ(name.substr(0, 10), "AudioTemp-");
        EXPECT_EQ(name.substr(name.size() - 4), ".pcm");
        EXPECT_EQ(mode, 0600u);
    }
    EXPECT_EQ(DataChunk(ReadFile(dir.File("ab.wav"))),
              std::string(300000, 'a') + std::string(300000, 'b'));
    EXPECT_EQ(DataChunk(ReadFile(dir.File("ba.wav"))),
              std::string(300000, 'b') + std::string(300000, 'a'));
    EXPECT_EQ(ReadFile(dir.File("victim")), "precious");
    EXPECT_EQ(Listing(tmp.Path()), std::vector<std::string>{"AudioTemp.pcm"});
}

// A full disk under the output is OutputTest's; here the temporary file fills it.
TEST(JoinFaults, FullDiskUnderTheTemporaryFileIsReported) {
    TempDir dir, tmp;
    SmallDisk disk(dir.File("full"));
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    const std::string a = WavFile(dir, "a.wav", 1500000, 'a');
    MessageLog log;
    Recorder rec;
    JoinRequest req = WavJoin(tmp, {{a, kCd}}, dir.File("out.wav"));
    req.tempPcmPath = dir.File("full/AudioTemp.pcm");
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_NE(log.shown[0].find("No space left on device"), std::string::npos);
    EXPECT_FALSE(Exists(dir.File("out.wav")));
    EXPECT_TRUE(Listing(dir.File("full")).empty());
}

TEST(JoinWavInput, HeadersTheAddButtonReadsAreJoined) {
    TempDir dir;
    const std::string data = Samples16({1, -1, 2, -2, 3, -3, 4, -4});
    const auto rf64 = MakeRf64Header(kCd, data.size());
    const std::pair<const char *, std::string> files[] = {
        {"padded.wav", PcmWav(2, 44100, 16, Chunk("note", "abc"), data)},
        {"unpadded.wav", PcmWav(2, 44100, 16, Chunk("note", "abc", false), data)},
        {"extensible.wav",
         Riff(Chunk("fmt ", ExtensibleBody(2, 44100, 16, 1)) + Chunk("data", data))},
        {"rf64.wav", std::string(rf64.begin(), rf64.end()) + data},
        {"partial-frame.wav", PcmWav(2, 44100, 16, "", data + "xyz")},
    };
    for (const auto &[name, bytes] : files) {
        WriteFile(dir.File(name), bytes);
        const Outcome o = JoinOne(dir, Listed(dir.File(name)));
        EXPECT_EQ(o.status, JoinStatus::Ok) << name;
        EXPECT_TRUE(o.shown.empty()) << name;
        EXPECT_EQ(o.data, data) << name;
    }
}

TEST(JoinWavInput, FileReplacedSinceListing) {
    TempDir dir;
    const std::string path = dir.File("a.wav");
    WriteFile(path, PcmWav(1, 8000, 8, "", std::string(8000, '\x80')));
    const JoinInput row = Listed(path);
    WriteFile(path, PcmWav(2, 44100, 16, "", std::string(176400, 'n')));
    Outcome o = JoinOne(dir, row);
    EXPECT_EQ(o.status, JoinStatus::Failed);
    EXPECT_EQ(o.shown, std::vector<std::string>{
                           "Error: Can not join '" + path +
                           "': it has changed since it was added (now 44100 Hz, 2 channels, 16 "
                           "bits; the list says 8000 Hz, 1 channel, 8 bits)"});
    EXPECT_FALSE(Exists(dir.File("out.wav")));

    // Same format, less audio than listed.
    WriteFile(path, PcmWav(1, 8000, 8, "", std::string(6000, '\x80')));
    o = JoinOne(dir, row);
    EXPECT_EQ(o.status, JoinStatus::Failed);
    EXPECT_EQ(o.shown, std::vector<std::string>{
                           "Error: Can not join '" + path +
                           "': it ended after 6000 of the 8000 bytes of audio it held when it "
                           "was added (0.75 of 1.00 seconds)"});
    EXPECT_FALSE(Exists(dir.File("out.wav")));

    // More audio than listed: the file is joined whole, nothing of it is dropped.
    WriteFile(path, PcmWav(1, 8000, 8, "", std::string(8000, 'a') + std::string(500, 'b')));
    o = JoinOne(dir, row);
    EXPECT_EQ(o.status, JoinStatus::Ok);
    EXPECT_EQ(o.data, std::string(8000, 'a') + std::string(500, 'b'));
}

TEST(JoinWavInput, FileTruncatedWhileTheJoinReadsIt) {
    TempDir dir;
    const std::string path = dir.File("long.wav");
    const std::string data(1000000, 'd');
    for (bool listed : {true, false}) {
        WriteFile(path, PcmWav(2, 44100, 16, "", data));
        JoinInput input = Listed(path);
        if (!listed)
            input.expectedBytes = -1;
        const Outcome o = JoinOne(dir, input, Truncating(path, 44 + 20000));
        EXPECT_EQ(o.status, JoinStatus::Failed) << listed;
        ASSERT_EQ(o.shown.size(), 1u) << listed;
        EXPECT_EQ(o.shown[0].rfind("Error: Can not join '" + path + "': it ended after ", 0), 0u)
            << o.shown[0];
        EXPECT_NE(o.shown[0].find(" of the 1000000 bytes of audio"), std::string::npos)
            << o.shown[0];
        EXPECT_FALSE(Exists(dir.File("out.wav")));
    }
}

TEST(JoinWavInput, DataSizePastTheEndJoinsWhatTheFileHolds) {
    TempDir dir;
    const std::string path = dir.File("claims.wav");
    std::string bytes = PcmWav(2, 44100, 16, "", std::string(4000, 'd'));
    bytes.replace(40, 4, ChunkHeader("", 0xFFFFFFFF));
    WriteFile(path, bytes);
    for (std::int64_t expected : {std::int64_t(4000), std::int64_t(-1)}) {
        const Outcome o = JoinOne(dir, {path, kCd, expected});
        EXPECT_EQ(o.status, JoinStatus::Ok);
        EXPECT_EQ(o.data, std::string(4000, 'd'));
    }
    EXPECT_EQ(Listed(path).expectedBytes, 4000);
}

} // namespace
