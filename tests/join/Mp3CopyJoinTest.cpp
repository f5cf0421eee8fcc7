// The join that keeps MP3 frames scans the inputs, then has their frames copied from the files:
// an input that changes in between fails the join with the reason, and no output is left.
#include "join/Mp3CopyJoin.h"
#include "JoinTestSupport.h"
#include "audio/Probe.h"
#include "encoders/Wavtomp3.h"
#include "join/Mp3Copy.h"
#include "join/Mp3FrameWriters.h"

#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tandrel;
using namespace jointest;
using testutil::TempDir;

namespace {

// Runs change once, at the first event check after the copying of the input at `path` began
// (its label is set then), by when it has been scanned.
class ChangeWhileCopying : public Recorder {
public:
    explicit ChangeWhileCopying(std::string path) : path_(std::move(path)) {}
    bool ProcessEventsAndShouldStop() override {
        if (!labels.empty() && labels.back() == path_ && change) {
            change();
            change = nullptr;
        }
        return false;
    }
    std::function<void()> change;

private:
    std::string path_;
};

JoinRequest CopyRequest(const TempDir &dir, const std::vector<std::string> &names) {
    std::vector<JoinInput> inputs;
    for (const std::string &name : names)
        inputs.push_back({dir.File(name), {44100, 2, 16}});
    JoinRequest req = WavJoin(dir, inputs, dir.File("out.mp3"));
    req.output.kind = OutputKind::Mp3;
    req.output.mp3Copy = true;
    req.discardOnStop = true;
    return req;
}

// Three seconds of pink noise as a.mp3 (128 kbps), b.mp3 (VBR) and c.mp3 (192 kbps).
void MakeInputs(const TempDir &dir) {
    const auto made =
        testutil::Run("cd " + dir.Path() +
                      " && sox -n -r 44100 -c 2 -b 16 s.wav synth 3 pinknoise vol 0.3 2>&1"
                      " && lame --quiet -b 128 s.wav a.mp3 && lame --quiet -V 4 s.wav b.mp3"
                      " && lame --quiet -b 192 s.wav c.mp3");
    ASSERT_EQ(made.exitCode, 0) << made.output;
}

} // namespace

TEST(Mp3CopyJoin, AnInputChangedWhileItsFramesAreCopiedFailsTheJoin) {
    TempDir dir;
    MakeInputs(dir);
    const JoinRequest req = CopyRequest(dir, {"a.mp3", "b.mp3", "c.mp3"});
    {
        MessageLog log;
        Recorder rec;
        ASSERT_EQ(RunMp3Copy(req, rec), JoinStatus::Ok);
        EXPECT_TRUE(log.shown.empty());
        EXPECT_GT(testutil::ReadFile(dir.File("out.mp3")).size(), 100000u);
    }
    ::unlink(dir.File("out.mp3").c_str());
    {
        MessageLog log; // gone since it was listed
        Recorder rec;
        EXPECT_EQ(RunMp3Copy(CopyRequest(dir, {"a.mp3", "gone.mp3"}), rec), JoinStatus::Failed);
        ASSERT_EQ(log.shown.size(), 1u);
        EXPECT_NE(log.shown[0].find("No such file"), std::string::npos) << log.shown[0];
    }
    // Copied on the writing thread, and on the join's own.
    for (const unsigned threads : {0u, 1u})
        for (const char *how : {"grown", "cut"}) {
            SCOPED_TRACE(std::string(how) + (threads == 1 ? ", one thread" : ""));
            const std::string c = testutil::ReadFile(dir.File("c.mp3"));
            MessageLog log;
            ChangeWhileCopying rec(dir.File("c.mp3"));
            rec.change = [&] {
                const std::string now =
                    how == std::string("grown") ? c + c : c.substr(0, c.size() / 2);
                std::ofstream(dir.File("c.mp3"), std::ios::binary | std::ios::trunc) << now;
            };
            JoinRequest one = req;
            one.output.mp3Threads = threads;
            EXPECT_EQ(RunMp3Copy(one, rec), JoinStatus::Failed);
            ASSERT_EQ(log.shown.size(), 1u);
            EXPECT_NE(log.shown[0].find("c.mp3"), std::string::npos) << log.shown[0];
            EXPECT_NE(log.shown[0].find("changed"), std::string::npos) << log.shown[0];
            EXPECT_FALSE(testutil::Exists(dir.File("out.mp3")));
            std::ofstream(dir.File("c.mp3"), std::ios::binary | std::ios::trunc) << c;
        }
}

// Inputs are read a few ahead of the copy: a join stopped part-way has the chapters of the
// inputs whose frames it wrote, not of those only read.
TEST(Mp3CopyJoin, AStoppedJoinHasTheChaptersOfWhatItCopied) {
    TempDir dir;
    const auto made = testutil::Run("cd " + dir.Path() +
                                    " && sox -n -r 44100 -c 2 -b 16 s.wav synth 3 pinknoise vol 0.3"
                                    " 2>&1 && lame --quiet -b 128 s.wav a.mp3");
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const JoinRequest req =
        CopyRequest(dir, {"a.mp3", "a.mp3", "a.mp3", "a.mp3", "a.mp3", "a.mp3"});
    WavToMp3 library;
    ASSERT_TRUE(library.Entries());
    struct StopAtThird : Recorder { // when the third input's copy begins
        bool ProcessEventsAndShouldStop() override { return labels.size() >= 3; }
    } stop;
    tandrel::CopyJoin join(req, stop, *library.Entries(), true);
    CountingWriter counter;
    EXPECT_FALSE(join.Run(counter));
    EXPECT_TRUE(join.Stopped());
    EXPECT_EQ(join.Chapters().size(), 2u);
}

// On a pipe the Info frame's counts come from a first pass over the inputs: an input that
// changes before the second pass writes it fails the join instead of going out unlike them.
TEST(Mp3CopyJoin, AnInputChangedBetweenAPipesTwoPassesFailsTheJoin) {
    TempDir dir;
    MakeInputs(dir);
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::string piped;
    std::thread reader([&] {
        const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
        char buf[65536];
        for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;)
            piped.append(buf, std::size_t(n));
        ::close(fd);
    });
    JoinRequest req = CopyRequest(dir, {"a.mp3", "b.mp3", "c.mp3"});
    req.output.path = fifo;
    const std::string c = testutil::ReadFile(dir.File("c.mp3"));
    MessageLog log;
    ChangeWhileCopying rec(dir.File("c.mp3")); // at the first pass's copy
    rec.change = [&] {
        std::ofstream(dir.File("c.mp3"), std::ios::binary | std::ios::trunc) << c + c;
    };
    EXPECT_EQ(RunMp3Copy(req, rec), JoinStatus::Failed);
    reader.join();
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_NE(log.shown[0].find("c.mp3"), std::string::npos) << log.shown[0];
    EXPECT_NE(log.shown[0].find("changed"), std::string::npos) << log.shown[0];
}

// An input cut short after it was listed, before the join read it: the join fails as the
// re-encoding one does, saying how much of its audio is left, instead of joining what is left.
TEST(Mp3CopyJoin, AnInputCutSinceItWasListedFailsTheJoin) {
    TempDir dir;
    MakeInputs(dir);
    JoinRequest req = CopyRequest(dir, {"a.mp3", "b.mp3", "c.mp3"});
    for (JoinInput &in : req.inputs) {
        Track t;
        ASSERT_EQ(ProbeFile(in.path, t, true), Refusal::None);
        ASSERT_GT(t.exactBytes, 0);
        in.expectedBytes = t.exactBytes;
    }
    {
        MessageLog log; // as listed: joined
        Recorder rec;
        ASSERT_EQ(RunMp3Copy(req, rec), JoinStatus::Ok);
        EXPECT_TRUE(log.shown.empty());
    }
    const std::string b = testutil::ReadFile(dir.File("b.mp3"));
    testutil::WriteFile(dir.File("b.mp3"), b.substr(0, b.size() * 2 / 3));
    ::unlink(dir.File("out.mp3").c_str());
    MessageLog log;
    Recorder rec;
    EXPECT_EQ(RunMp3Copy(req, rec), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_NE(log.shown[0].find("b.mp3"), std::string::npos) << log.shown[0];
    EXPECT_NE(log.shown[0].find("ended after"), std::string::npos) << log.shown[0];
    EXPECT_FALSE(testutil::Exists(dir.File("out.mp3")));
}
