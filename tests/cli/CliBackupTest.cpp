#include "CliTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace testutil;
using namespace clitest;

namespace {

std::string RandomBytes(std::size_t count) {
    std::mt19937 random(11);
    std::string out(count, '\0');
    for (char &c : out)
        c = char(random());
    return out;
}

// The first bytes of a file, or "" when it cannot be read.
std::string Head(const std::string &path) {
    char buf[64];
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const ssize_t n = fd < 0 ? 0 : pread(fd, buf, sizeof buf, 0);
    if (fd >= 0)
        close(fd);
    return n > 0 ? std::string(buf, std::size_t(n)) : "";
}

// A file of two names gets the join copied into it. Killed once that copy has begun, the
// join leaves the old contents in the backup, and the next join puts them back first.
TEST(CliBackup, AJoinKilledWhileCopiedIntoPlaceLeavesTheOldContentsForTheNextJoin) {
    TempDir in, out, tmp;
    const std::string big = Synth(in, "big.wav", "-r 44100 -c 2 -b 16", "60 whitenoise");
    const std::string small = Synth(in, "small.wav", "-r 44100 -c 2 -b 16", "1 sine 440");
    const std::string output = out.File("out.wav"), other = out.File("other.wav");
    const std::string backup = output + ".tandrel-backup", err = in.File("err.txt");
    const std::string old = RandomBytes(16 << 20);
    WriteFile(output, old);
    ASSERT_EQ(link(output.c_str(), other.c_str()), 0);

    std::vector<std::string> args{"--force", "-o", output};
    for (int i = 0; i < 8; ++i)
        args.push_back(big);
    const pid_t pid = Start(args, err + ".out", err, {"TMPDIR=" + tmp.Path()});
    ASSERT_GT(pid, 0);
    // Polled until the file's start shows the join, or the join has ended.
    bool ended = false;
    const bool copying = WaitUntil([&] {
                             ended = ended || waitpid(pid, nullptr, WNOHANG) == pid;
                             return ended || (Exists(backup) && Head(output) != old.substr(0, 64));
                         }) &&
                         !ended;
    kill(pid, SIGKILL);
    if (!ended)
        ExitCode(pid);
    ASSERT_TRUE(copying) << "the copy into place was not seen: " << ReadFile(err);
    EXPECT_TRUE(ReadFile(backup) == old);
    EXPECT_EQ(Listing(out.Path()),
              (std::vector<std::string>{"other.wav", "out.wav", "out.wav.tandrel-backup"}));

    const CliResult next = RunCli(in.Path(), {"--force", "-q", "-o", output, small});
    EXPECT_EQ(next.exitCode, 0) << next.err;
    EXPECT_TRUE(Contains(next.err, "tandrel-join: The output file's old contents were restored "
                                   "from the backup an interrupted join left: " +
                                       output + ": " + backup))
        << next.err;
    EXPECT_EQ(Listing(out.Path()), (std::vector<std::string>{"other.wav", "out.wav"}));
    EXPECT_NEAR(ProbeDuration(other), 1.0, 0.01);
    EXPECT_TRUE(Listing(tmp.Path()).empty());
}

} // namespace
