// A stop heard by writes that wait for a pipe's reader.
#include "JoinTestSupport.h"
#include "common/FileIo.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tandrel;
using namespace jointest;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WavFile;

namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Raises the writes' stop after a while; lowers it again at the end of the test.
class StopLater {
public:
    explicit StopLater(int ms, std::atomic<bool> *also = nullptr)
        : thread_([ms, also] {
              std::this_thread::sleep_for(std::chrono::milliseconds(ms));
              if (also)
                  *also = true;
              InterruptWrites(true);
          }) {}
    ~StopLater() {
        thread_.join();
        InterruptWrites(false);
    }

private:
    std::thread thread_;
};

// Should a write not hear the stop, the pipe is emptied after a while so that the test ends
// (and fails on the time it took).
class Rescue {
public:
    explicit Rescue(int fd)
        : thread_([this, fd] {
              for (int i = 0; i < 150 && !done_; ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
              char buf[65536];
              while (!done_)
                  if (::read(fd, buf, sizeof buf) <= 0)
                      std::this_thread::sleep_for(std::chrono::milliseconds(5));
          }) {}
    ~Rescue() {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// Asks to stop once the flag is up.
class StopOnFlag : public Recorder {
public:
    explicit StopOnFlag(const std::atomic<bool> &flag) : flag_(flag) {}
    bool ProcessEventsAndShouldStop() override { return flag_; }

private:
    const std::atomic<bool> &flag_;
};

} // namespace

TEST(InterruptedWrites, AWriteWaitingForAReaderThatNeverReadsGivesUpAtTheStop) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    BufferedWriter out(64 * 1024);
    out.Attach(fds[1]);
    const std::string block(1 << 20, 'x'); // far more than the pipe holds
    const auto start = Clock::now();
    {
        Rescue rescue(fds[0]);
        StopLater stop(200);
        EXPECT_FALSE(out.Write(block.data(), block.size()));
    }
    EXPECT_EQ(out.Error(), ECANCELED);
    EXPECT_GE(MsSince(start), 150);
    EXPECT_LT(MsSince(start), 700);
    EXPECT_FALSE(out.Close());
    ::close(fds[0]);
}

TEST(InterruptedWrites, AReadPipeGetsEveryByteAndAFileIsWrittenThroughAStop) {
    TempDir dir;
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    std::string sent;
    for (int i = 0; i < 300000; ++i)
        sent += char('a' + i % 23);
    std::string got;
    std::thread reader([&] {
        char buf[3000];
        for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;)
            got.append(buf, std::size_t(n));
    });
    BufferedWriter pipeOut(70000);
    pipeOut.Attach(fds[1]);
    EXPECT_TRUE(pipeOut.Write(sent.data(), 5));
    EXPECT_TRUE(pipeOut.Write(sent.data() + 5, sent.size() - 5));
    EXPECT_TRUE(pipeOut.Close());
    reader.join();
    EXPECT_TRUE(got == sent);

    // A regular file does not wait for anyone: the stop leaves its writes alone.
    InterruptWrites(true);
    BufferedWriter fileOut(4096);
    fileOut.Attach(::open(dir.File("f").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    EXPECT_TRUE(fileOut.Write(sent.data(), sent.size()));
    EXPECT_TRUE(fileOut.Close());
    InterruptWrites(false);
    EXPECT_TRUE(ReadFile(dir.File("f")) == sent);
}

TEST(InterruptedWrites, AStoppedJoinIntoAFifoWhoseReaderReadsNothingEndsWithoutAMessage) {
    TempDir dir, tmp;
    const PcmFormat f{44100, 2, 16};
    const std::string wav = WavFile(dir, "a.wav", 8 << 20, '\x05');
    const std::string fifo = dir.File("out.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    for (const bool direct : {false, true}) {
        SCOPED_TRACE(direct ? "direct" : "through the temporary file");
        MessageLog log;
        JoinRequest req = WavJoin(tmp, {{wav, f}}, fifo);
        req.direct = direct;
        std::atomic<bool> stopped{false};
        StopOnFlag progress(stopped);
        JoinStatus status;
        const auto start = Clock::now();
        {
            Rescue rescue(reader);
            StopLater stop(500, &stopped);
            status = RunJoin(req, progress);
        }
        EXPECT_LT(MsSince(start), 1000);
        EXPECT_NE(status, JoinStatus::Ok);
        EXPECT_TRUE(log.shown.empty()) << log.shown.front();
        EXPECT_TRUE(testutil::Listing(tmp.Path()).empty());
        char buf[65536];
        while (::read(reader, buf, sizeof buf) > 0) {
        }
    }
    ::close(reader);
}
