#include "JoinTestSupport.h"
#include "join/OutputFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

const PcmFormat kCd{44100, 2, 16};

std::string RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    std::string out(count, '\0');
    for (char &c : out)
        c = char(random());
    return out;
}

std::uint64_t FreeBytes(const std::string &path) {
    struct statvfs disk {};
    EXPECT_EQ(statvfs(path.c_str(), &disk), 0);
    return std::uint64_t(disk.f_bavail) * disk.f_frsize;
}

// Writes a file until the disk holding it is full.
void FillDisk(const std::string &path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const std::string block(4096, 'F');
    while (fd >= 0 && write(fd, block.data(), block.size()) > 0) {
    }
    if (fd >= 0)
        close(fd);
}

// An ext2 file system (which reserves no space) of megabytes on a loop device over an image
// in dir, mounted at dir/ext2; unmounted and detached at the end.
class Ext2Disk {
public:
    Ext2Disk(const TempDir &dir, int megabytes)
        : image_(dir.File("ext2.img")), path_(dir.File("ext2")) {
        if (geteuid() != 0) {
            why_ = "a loop mount needs root";
            return;
        }
        mkdir(path_.c_str(), 0700);
        const CommandResult made =
            Run("mkfs.ext2 -q -F -m 0 " + Quote(image_) + " " + std::to_string(megabytes) + "M");
        const CommandResult mounted =
            made.exitCode == 0 ? Run("mount -o loop " + Quote(image_) + " " + Quote(path_)) : made;
        mounted_ = mounted.exitCode == 0;
        if (!mounted_)
            why_ = "cannot mount an ext2 image here: " + mounted.output;
    }
    ~Ext2Disk() {
        if (mounted_ && Run("umount " + Quote(path_)).exitCode != 0)
            Run("umount -l " + Quote(path_));
        Run("losetup -n -O NAME -j " + Quote(image_) + " | xargs -r -n1 losetup -d");
    }
    Ext2Disk(const Ext2Disk &) = delete;
    Ext2Disk &operator=(const Ext2Disk &) = delete;
    bool Mounted() const { return mounted_; }
    const std::string &Why() const { return why_; }
    std::string File(const std::string &name) const { return path_ + "/" + name; }
    const std::string &Path() const { return path_; }

private:
    std::string image_, path_, why_;
    bool mounted_ = false;
};

class CopyIntoPlace : public ::testing::Test {
protected:
    JoinStatus Join(const std::string &output, bool direct) {
        Recorder rec;
        JoinRequest req = WavJoin(tmp_, {{a_, kCd}, {b_, kCd}}, output);
        req.direct = direct;
        req.discardOnStop = direct;
        return RunJoin(req, rec);
    }

    TempDir in_, out_, tmp_;
    std::string a_ = WavFile(in_, "a.wav", 20000, 'a');
    std::string b_ = WavFile(in_, "b.wav", 20000, 'b');
    const std::string old_ = RandomBytes(1 << 20, 7);
};

// ext2 cannot reserve space: the free space decides up front, and a disk that fills during
// the copy gets the old contents back into every name.
TEST_F(CopyIntoPlace, OnExt2AFullDiskLeavesBothNamesWithTheirOldContents) {
    Ext2Disk disk(out_, 32);
    if (!disk.Mounted())
        GTEST_SKIP() << disk.Why();
    const std::string out = disk.File("out.wav"), other = disk.File("other.wav");
    WriteFile(out, old_);
    ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
    const std::vector<std::string> names{"lost+found", "other.wav", "out.wav"};
    const std::uint64_t free = FreeBytes(disk.Path());
    // The join itself fits beside it, but not once more in the old file's place.
    a_ = WavFile(in_, "a.wav", std::size_t(free * 0.35) & ~3u, 'a');
    b_ = WavFile(in_, "b.wav", std::size_t(free * 0.35) & ~3u, 'b');
    for (bool direct : {false, true}) {
        MessageLog log;
        EXPECT_EQ(Join(out, direct), JoinStatus::Failed);
        EXPECT_TRUE(ReadFile(out) == old_ && ReadFile(other) == old_);
        ASSERT_FALSE(log.shown.empty());
        EXPECT_NE(log.shown.back().find("No space left on device"), std::string::npos);
        EXPECT_EQ(Listing(disk.Path()), names);
    }
    // Room enough at first; the disk fills once the copy has begun.
    OutputFile file;
    ASSERT_TRUE(file.Open(out, nullptr));
    const std::string joined = RandomBytes(std::size_t(free * 0.3), 8);
    ASSERT_EQ(write(file.Fd(), joined.data(), joined.size()), ssize_t(joined.size()));
    bool filled = false;
    const auto fill = [&] {
        if (!filled && Exists(out + ".tandrel-backup")) {
            filled = true;
            FillDisk(disk.File("filler"));
        }
    };
    EXPECT_FALSE(file.Commit(fill));
    EXPECT_TRUE(filled);
    EXPECT_EQ(file.Error(), ENOSPC);
    EXPECT_TRUE(ReadFile(out) == old_ && ReadFile(other) == old_);
    EXPECT_EQ(Listing(disk.Path()),
              (std::vector<std::string>{"filler", "lost+found", "other.wav", "out.wav"}));
}

// What a join killed while copying into place leaves: part of the new join over the old
// contents, and the backup.
TEST_F(CopyIntoPlace, TheNextJoinRestoresTheBackupAKilledJoinLeftBeforeAnythingElse) {
    const std::string out = out_.File("out.wav"), backup = out + ".tandrel-backup";
    const std::string missing = in_.File("gone.wav");
    for (bool direct : {false, true}) {
        WriteFile(out, RandomBytes(3 << 20, 9));
        WriteFile(backup, old_);
        // The join fails reading its input: the file is already whole again.
        JoinRequest req = WavJoin(tmp_, {{a_, kCd}, {missing, kCd}}, out);
        req.direct = direct;
        MessageLog log;
        Recorder rec;
        EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
        EXPECT_TRUE(ReadFile(out) == old_);
        EXPECT_EQ(Listing(out_.Path()), std::vector<std::string>{"out.wav"});
        ASSERT_FALSE(log.shown.empty());
        EXPECT_EQ(log.shown[0], std::string(kAppTitle) +
                                    ": The output file's old contents were restored from the "
                                    "backup an interrupted join left.\n" +
                                    out + "\n" + backup);
    }
    // A backup whose file is gone stays, and is mentioned.
    unlink(out.c_str());
    WriteFile(backup, old_);
    MessageLog log;
    EXPECT_EQ(Join(out, true), JoinStatus::Ok);
    EXPECT_EQ(ReadFile(backup), old_);
    ASSERT_FALSE(log.shown.empty());
    EXPECT_NE(log.shown[0].find("left a backup of the output file's old contents.\n" + backup),
              std::string::npos);
}

// Where space can be reserved (tmpfs), the copy into place leaves no backup behind.
TEST_F(CopyIntoPlace, OnTmpfsTheJoinTakesItsPlaceAndNoBackupStays) {
    const std::string folder = out_.File("tmpfs");
    SmallDisk disk(folder, "size=4m");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string out = folder + "/out.wav", other = folder + "/other.wav";
    WriteFile(out, old_);
    ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
    for (bool direct : {false, true}) {
        ASSERT_EQ(Join(out, direct), JoinStatus::Ok);
        EXPECT_EQ(DataChunk(ReadFile(other)), std::string(20000, 'a') + std::string(20000, 'b'));
        EXPECT_EQ(Listing(folder), (std::vector<std::string>{"other.wav", "out.wav"}));
    }
    // The backup needs room too: the join must fit beside the old file, its backup and itself.
    WriteFile(out, old_);
    a_ = WavFile(in_, "a.wav", 1200000, 'a');
    b_ = WavFile(in_, "b.wav", 1200000, 'b');
    EXPECT_EQ(Join(out, true), JoinStatus::Failed);
    EXPECT_TRUE(ReadFile(other) == old_);
    EXPECT_EQ(Listing(folder), (std::vector<std::string>{"other.wav", "out.wav"}));
    EXPECT_TRUE(Listing(tmp_.Path()).empty());
}

} // namespace
