// Outputs on a FAT file system, as on a USB stick: no unnamed files, no hard links, no modes.
#include "CliTestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace testutil;
using namespace clitest;

namespace {

// A FAT image in a temporary folder, mounted through fusefat while it exists.
class FatStick {
public:
    explicit FatStick(const TempDir &dir, int kib = 4096)
        : image_(dir.File("stick.img")), mount_(dir.File("stick")) {
        if (access("/dev/fuse", R_OK | W_OK) != 0) {
            why_ = "/dev/fuse is not usable here";
            return;
        }
        const std::string path = "PATH=\"$PATH:/usr/sbin:/sbin\" ";
        if (Run(path + "command -v fusefat && " + path + "command -v mkfs.vfat").exitCode != 0) {
            why_ = "fusefat or mkfs.vfat is not installed";
            return;
        }
        mkdir(mount_.c_str(), 0700);
        const CommandResult made =
            Run(path + "mkfs.vfat -C " + Quote(image_) + " " + std::to_string(kib) +
                " && fusefat -o rw+ " + Quote(image_) + " " + Quote(mount_));
        mounted_ = made.exitCode == 0;
        if (!mounted_)
            why_ = "cannot mount a FAT image here: " + made.output;
    }
    ~FatStick() {
        if (mounted_)
            Run("fusermount -u " + Quote(mount_) + " || umount -l " + Quote(mount_));
    }
    FatStick(const FatStick &) = delete;
    FatStick &operator=(const FatStick &) = delete;

    bool Mounted() const { return mounted_; }
    const std::string &Why() const { return why_; }
    std::string File(const std::string &name) const { return mount_ + "/" + name; }
    // Fills the stick up to about leaveKib of free space.
    void Fill(std::uint64_t leaveKib) {
        struct statvfs vfs {};
        ASSERT_EQ(statvfs(mount_.c_str(), &vfs), 0);
        const std::uint64_t freeBytes = std::uint64_t(vfs.f_bavail) * vfs.f_frsize;
        ASSERT_GT(freeBytes, leaveKib * 1024);
        WriteFile(File("filler.bin"), std::string(freeBytes - leaveKib * 1024, 'f'));
    }

private:
    std::string image_, mount_, why_;
    bool mounted_ = false;
};

class CliFat : public ::testing::Test {
protected:
    void SetUp() override {
        if (!stick_.Mounted())
            GTEST_SKIP() << stick_.Why();
    }
    // 2.27 s of CD audio.
    TempDir in_, tmp_;
    std::string a_ = WavFile(in_, "a.wav", 400000, 'a');
    FatStick stick_{tmp_};
};

TEST_F(CliFat, NewAndReplacedOutputsTakeTheirNames) {
    for (const std::string format : {"wav", "mp3", "wma"}) {
        SCOPED_TRACE(format);
        const std::string fresh = stick_.File("new." + format), old = stick_.File("old." + format);
        CliResult r = RunCli(in_.Path(), {"-q", "-o", fresh, a_});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NEAR(ProbeDuration(fresh), 2.27, 0.1);

        WriteFile(old, "OLD");
        r = RunCli(in_.Path(), {"-q", "-o", old, a_});
        EXPECT_EQ(r.exitCode, 1) << "an existing file needs --force";
        r = RunCli(in_.Path(), {"-q", "--force", "-o", old, a_});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NEAR(ProbeDuration(old), 2.27, 0.1);
        // A stand-in name never stays behind.
        EXPECT_EQ(Listing(stick_.File("")),
                  (std::vector<std::string>{"new." + format, "old." + format}));
        unlink(fresh.c_str());
        unlink(old.c_str());
    }
}

TEST_F(CliFat, AFullStickKeepsTheOldFileAndLeavesNoStandIn) {
    for (const std::string format : {"wav", "mp3", "wma"})
        WriteFile(stick_.File("old." + format), "OLD");
    stick_.Fill(8);
    for (const std::string format : {"wav", "mp3", "wma"}) {
        SCOPED_TRACE(format);
        for (const std::string &name : {"new." + format, "old." + format}) {
            const std::string out = stick_.File(name);
            const CliResult r = RunCli(in_.Path(), {"-q", "--force", "-o", out, a_});
            EXPECT_EQ(r.exitCode, 1);
            // fusefat gives a full stick's write EPERM: the system's reason, whatever it is.
            const std::string said = "tandrel-join: Cannot creat the output file: " + out + ": ";
            EXPECT_EQ(r.err.rfind(said, 0), 0u) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        EXPECT_EQ(ReadFile(stick_.File("old." + format)), "OLD");
    }
    EXPECT_EQ(Listing(stick_.File("")),
              (std::vector<std::string>{"filler.bin", "old.mp3", "old.wav", "old.wma"}));
}

} // namespace
