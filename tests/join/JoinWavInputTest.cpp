#include "JoinTestSupport.h"
#include "WavBytes.h"
#include "audio/Probe.h"
#include "join/WavWriter.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;
using namespace wavbytes;

namespace {

const PcmFormat kCd{44100, 2, 16};

// The row the window would list for the file.
JoinInput Listed(const std::string &path) {
    ProbedFile f;
    EXPECT_EQ(ProbeFile(path, f), Refusal::None) << path;
    return {path, {int(f.sampleRate), int(f.channels), int(f.bits)}, f.exactBytes};
}

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

} // namespace

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
    };
    for (const auto &[name, bytes] : files) {
        WriteFile(dir.File(name), bytes);
        const Outcome o = JoinOne(dir, Listed(dir.File(name)));
        EXPECT_EQ(o.status, JoinStatus::Ok) << name;
        EXPECT_TRUE(o.shown.empty()) << name;
        EXPECT_EQ(o.data, data) << name;
    }
}

TEST(JoinWavInput, HeadersTheAddButtonRefusesAreRefused) {
    TempDir dir;
    const std::string data(4000, 'd');
    // A chunk size negative as a signed number, right before "data".
    WriteFile(dir.File("past.wav"), PcmWav(2, 44100, 16, ChunkHeader("junk", 0xFFFFFFF0), data));
    WriteFile(dir.File("fast.wav"), PcmWav(2, 100000000, 16, "", data));
    for (const auto &[name, format] :
         {std::pair{"past.wav", kCd}, std::pair{"fast.wav", PcmFormat{100000000, 2, 16}}}) {
        ProbedFile f;
        MessageLog quiet;
        EXPECT_EQ(ProbeFile(dir.File(name), f), Refusal::NotPCM) << name;
        const Outcome o = JoinOne(dir, {dir.File(name), format});
        EXPECT_EQ(o.status, JoinStatus::Failed) << name;
        EXPECT_EQ(o.shown, std::vector<std::string>{"Error: This is not a valid Wave file"});
        EXPECT_FALSE(Exists(dir.File("out.wav")));
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
