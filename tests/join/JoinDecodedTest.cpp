#include "JoinTestSupport.h"
#include "audio/Decoding.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

class JoinDecoded : public ::testing::Test {
protected:
    static void SetUpTestSuite() { tandrel::InitDecoding(); }

    // An MP3 of a tone made by sox and lame; its list row as adding it makes it.
    JoinInput Mp3(const std::string &name, const std::string &lame, double seconds,
                  const std::string &soxFormat = "-r 44100 -c 2") {
        const std::string path = in_.File(name);
        const auto r = testutil::Run("sox -V1 -n " + soxFormat + " -b 16 -t wav - synth " +
                                     std::to_string(seconds) + " sine 440 | lame --quiet " + lame +
                                     " - " + Quote(path));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return Listed(path);
    }
    JoinStatus Join(const std::vector<JoinInput> &inputs, Recorder &rec) {
        return RunJoin(WavJoin(tmp_, inputs, out_.File("out.wav")), rec);
    }

    TempDir in_, out_, tmp_;
};

TEST_F(JoinDecoded, CutMp3FailsNamingTheLengths) {
    JoinInput tagged = Mp3("tagged.mp3", "-b 128", 3);
    JoinInput plain = Mp3("plain.mp3", "-t -b 128", 3);
    ASSERT_EQ(tagged.expectedBytes, 3 * 44100 * 4);
    for (JoinInput *in : {&tagged, &plain}) {
        const std::string bytes = ReadFile(in->path);
        WriteFile(in->path, bytes.substr(0, bytes.size() / 2 + 100));
        MessageLog log;
        Recorder rec;
        WriteFile(out_.File("out.wav"), "OLD");
        EXPECT_EQ(Join({*in}, rec), JoinStatus::Failed) << in->path;
        ASSERT_EQ(log.shown.size(), 1u);
        const std::string &text = log.shown[0];
        EXPECT_EQ(text.rfind("Error: Can not join '" + in->path + "': it ended after ", 0), 0u)
            << text;
        if (in == &tagged) {
            EXPECT_NE(text.find(" of the 529200 bytes of audio"), std::string::npos) << text;
        }
        EXPECT_EQ(ReadFile(out_.File("out.wav")), "OLD");
    }
}

TEST_F(JoinDecoded, FileCutWhileTheJoinReadsItFails) {
    const JoinInput in = Mp3("long.mp3", "-t -b 64", 20);
    class CutAtFirstBlock : public Recorder {
    public:
        explicit CutAtFirstBlock(std::string path) : path_(std::move(path)) {}
        bool ProcessEventsAndShouldStop() override {
            if (checks++ == 0) {
                EXPECT_EQ(truncate(path_.c_str(), 40000), 0);
            }
            return false;
        }

    private:
        std::string path_;
    } rec(in.path);
    MessageLog log;
    // Read serially: workers decoding ahead may have read the whole file before the cut.
    JoinRequest req = WavJoin(tmp_, {in}, out_.File("out.wav"));
    req.output.mp3Threads = 1;
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_NE(log.shown[0].find("it ended after"), std::string::npos) << log.shown[0];
}

TEST_F(JoinDecoded, FileReplacedAfterListingFails) {
    JoinInput in = Mp3("swap.mp3", "-b 128", 1);
    Mp3("mono.mp3", "-b 64", 1, "-r 22050 -c 1");
    ASSERT_EQ(rename(in_.File("mono.mp3").c_str(), in.path.c_str()), 0);
    MessageLog log;
    Recorder rec;
    EXPECT_EQ(Join({in}, rec), JoinStatus::Failed);
    EXPECT_EQ(log.shown, std::vector<std::string>{
                             "Error: Can not join '" + in.path +
                             "': it has changed since it was added (now 22050 Hz, 1 channel, 16 "
                             "bits; the list says 44100 Hz, 2 channels, 16 bits)"});
}

} // namespace

// The decoding pool shows the first bar as serial decoding does, the length told exactly by a
// LAME tag or estimated without one, and gives the same bytes.
TEST_F(JoinDecoded, PoolShowsTheSerialProgress) {
    const std::vector<JoinInput> inputs = {Mp3("tagged.mp3", "-b 128", 20),
                                           Mp3("plain.mp3", "-t -b 128", 20),
                                           Mp3("vbr.mp3", "-t -V 6", 20)};
    for (const JoinInput &in : inputs) {
        SCOPED_TRACE(in.path);
        Recorder serial, pooled;
        JoinRequest req = WavJoin(tmp_, {in}, out_.File("out.wav"));
        req.output.mp3Threads = 1;
        ASSERT_EQ(RunJoin(req, serial), JoinStatus::Ok);
        const std::string bytes = ReadFile(out_.File("out.wav"));
        req.output.mp3Threads = 2;
        ASSERT_EQ(RunJoin(req, pooled), JoinStatus::Ok);
        EXPECT_EQ(pooled.bar1, serial.bar1);
        EXPECT_TRUE(ReadFile(out_.File("out.wav")) == bytes);
    }
}
