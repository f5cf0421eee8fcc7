// Outputs on a disk slower than the join: what the join hands to the disk early stays a little
// ahead of the disk, so that a stop does not wait for a queue of data it throws away.
#include "CliTestSupport.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using namespace testutil;
using namespace clitest;

namespace {

// An ext2 image of the test's own on a loop device, mounted, with the writes of the processes
// put in its group held to bytesPerSecond (the block I/O controller).
class SlowDisk {
public:
    SlowDisk(const TempDir &dir, long bytesPerSecond)
        : folder_(dir.File("mnt")), why_(Make(dir.File("disk.img"), bytesPerSecond)) {}
    ~SlowDisk() {
        if (mounted_)
            Run("umount " + Quote(folder_));
        if (!loop_.empty())
            Run("losetup -d " + Quote(loop_));
        if (!group_.empty())
            rmdir(group_.c_str());
    }
    const std::string &Why() const { return why_; }
    const std::string &Folder() const { return folder_; }
    void Take(pid_t pid) const { std::ofstream(group_ + "/tasks") << pid << "\n"; }

private:
    // Why the disk cannot be had here, or nothing.
    std::string Make(const std::string &image, long bytesPerSecond) {
        const std::string cgroups = "/sys/fs/cgroup/blkio";
        if (geteuid() != 0 || access((cgroups + "/blkio.throttle.write_bps_device").c_str(), W_OK))
            return "needs root and the block I/O controller";
        if (Run("truncate -s 400M " + Quote(image) + " && mkfs.ext2 -q -F " + Quote(image))
                .exitCode)
            return "cannot make an ext2 image";
        const CommandResult loop = Run("losetup -f --show " + Quote(image));
        if (loop.exitCode != 0)
            return "no loop device here";
        loop_ = loop.output.substr(0, loop.output.find('\n'));
        mkdir(folder_.c_str(), 0700);
        if (Run("mount " + Quote(loop_) + " " + Quote(folder_)).exitCode != 0)
            return "cannot mount the image";
        mounted_ = true;
        struct stat st {};
        stat(loop_.c_str(), &st);
        group_ = cgroups + "/tandrel-test-" + std::to_string(getpid());
        mkdir(group_.c_str(), 0700);
        std::ofstream(group_ + "/blkio.throttle.write_bps_device")
            << major(st.st_rdev) << ":" << minor(st.st_rdev) << " " << bytesPerSecond << "\n";
        return "";
    }

    std::string folder_, loop_, group_;
    bool mounted_ = false;
    std::string why_;
};

TEST(CliSlowDisk, AStopEndsSoonHoweverFarTheJoinIsAheadOfTheDisk) {
    TempDir dir, in, tmp;
    SlowDisk disk(dir, 8 << 20);
    if (!disk.Why().empty())
        GTEST_SKIP() << disk.Why();
    const std::string wav = Synth(in, "big.wav", "-r 44100 -c 2 -b 16", "60 whitenoise");
    // Some 130 MB: 16 s at the disk's pace.
    std::vector<std::string> args{"-q", "-o", disk.Folder() + "/out.wav"};
    for (int i = 0; i < 12; ++i)
        args.push_back(wav);
    const pid_t pid = Start(args, in.File("out.txt"), in.File("err.txt"), {"TMPDIR=" + tmp.Path()});
    ASSERT_GT(pid, 0);
    disk.Take(pid);
    ASSERT_TRUE(WaitUntil([&] { return WritesInto(pid, disk.Folder()); }));
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto stopped = std::chrono::steady_clock::now();
    kill(pid, SIGINT);
    EXPECT_EQ(ExitCode(pid), 130) << ReadFile(in.File("err.txt"));
    const auto took = std::chrono::steady_clock::now() - stopped;
    EXPECT_LT(took, std::chrono::seconds(5));
    EXPECT_EQ(Listing(disk.Folder()), std::vector<std::string>{"lost+found"});
}

} // namespace
