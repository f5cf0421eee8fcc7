#include "join/OutputFile.h"
#include "JoinTestSupport.h"
#include "join/EncoderSinks.h"

#include "common/FileIo.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstddef>
#include <fcntl.h>
#include <functional>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tandrel;
using namespace testutil;
using namespace jointest;

namespace {

const PcmFormat kCd{44100, 2, 16};

bool IsRoot() {
    return geteuid() == 0;
}

struct stat Stat(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

class OutputTest : public ::testing::Test {
protected:
    // Joins a and b (20000 bytes of 'a', then of 'b') onto output, the window's way or the
    // command line's (direct).
    JoinStatus Join(const std::string &output, bool direct, Recorder *recorder = nullptr) {
        Recorder own;
        JoinRequest req = WavJoin(tmp_, {{a_, kCd}, {b_, kCd}}, output);
        req.direct = direct;
        req.discardOnStop = direct;
        return RunJoin(req, recorder ? *recorder : own);
    }
    static std::string Joined() { return std::string(20000, 'a') + std::string(20000, 'b'); }

    TempDir in_, out_, tmp_;
    std::string a_ = WavFile(in_, "a.wav", 20000, 'a');
    std::string b_ = WavFile(in_, "b.wav", 20000, 'b');
};

// Under a name of the longest legal length, new and then replaced.
TEST_F(OutputTest, AnExistingFileKeepsItsModeOwnerGroupAndEveryName) {
    const std::string name = std::string(251, 'n') + ".wav";
    for (bool direct : {false, true}) {
        const std::string out = out_.File(name), other = out_.File("other-name.wav");
        ASSERT_EQ(Join(out, direct), JoinStatus::Ok);
        ASSERT_EQ(chmod(out.c_str(), 0640), 0);
        if (IsRoot()) {
            ASSERT_EQ(chown(out.c_str(), 4242, 4343), 0);
        }
        ASSERT_EQ(Join(out, direct), JoinStatus::Ok);
        EXPECT_EQ(DataChunk(ReadFile(out)), Joined());
        EXPECT_EQ(Stat(out).st_mode & 07777, 0640u);
        if (IsRoot()) {
            EXPECT_EQ(Stat(out).st_uid, 4242u);
            EXPECT_EQ(Stat(out).st_gid, 4343u);
        }
        // A second name of the same file shows the new join too, and stays the same file.
        ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
        const ino_t inode = Stat(out).st_ino;
        std::swap(a_, b_);
        ASSERT_EQ(Join(other, direct), JoinStatus::Ok);
        std::swap(a_, b_);
        EXPECT_EQ(DataChunk(ReadFile(out)), std::string(20000, 'b') + std::string(20000, 'a'));
        EXPECT_EQ(Stat(out).st_ino, inode);
        EXPECT_EQ(Stat(other).st_ino, inode);
        EXPECT_EQ(Listing(out_.Path()), (std::vector<std::string>{name, "other-name.wav"}));
        unlink(out.c_str());
        unlink(other.c_str());
    }
    EXPECT_TRUE(Listing(tmp_.Path()).empty());
}

TEST_F(OutputTest, SymbolicLinksLeadToTheirFinalTargetAndStayLinks) {
    mkdir(out_.File("sub").c_str(), 0700);
    WriteFile(out_.File("sub/target.wav"), "OLD");
    ASSERT_EQ(symlink("sub/target.wav", out_.File("one.wav").c_str()), 0);
    ASSERT_EQ(symlink(out_.File("one.wav").c_str(), out_.File("two.wav").c_str()), 0);
    ASSERT_EQ(symlink("sub/new.wav", out_.File("dangling.wav").c_str()), 0);
    for (bool direct : {false, true}) {
        ASSERT_EQ(Join(out_.File("two.wav"), direct), JoinStatus::Ok);
        EXPECT_TRUE(S_ISLNK(Stat(out_.File("one.wav")).st_mode));
        EXPECT_TRUE(S_ISLNK(Stat(out_.File("two.wav")).st_mode));
        EXPECT_EQ(DataChunk(ReadFile(out_.File("sub/target.wav"))), Joined());
        ASSERT_EQ(Join(out_.File("dangling.wav"), direct), JoinStatus::Ok);
        EXPECT_TRUE(S_ISLNK(Stat(out_.File("dangling.wav")).st_mode));
        EXPECT_EQ(DataChunk(ReadFile(out_.File("sub/new.wav"))), Joined());
        unlink(out_.File("sub/new.wav").c_str());
    }
    EXPECT_EQ(Listing(out_.File("sub")), std::vector<std::string>{"target.wav"});
    ASSERT_EQ(symlink("loop.wav", out_.File("loop.wav").c_str()), 0);
    MessageLog log;
    EXPECT_EQ(Join(out_.File("loop.wav"), false), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_EQ(log.shown[0], "Error: Cannot creat the output file.\n" + out_.File("loop.wav") +
                                "\nToo many levels of symbolic links");
}

// Reads what open gives (a FIFO, an accepted connection) to its end on a thread of its own.
class Reader {
public:
    explicit Reader(std::function<int()> open)
        : thread_([this, open] {
              const int fd = open();
              char buf[65536];
              for (ssize_t n; fd >= 0 && (n = read(fd, buf, sizeof buf)) > 0;)
                  got_.append(buf, std::size_t(n));
              close(fd);
          }) {}
    std::string Take() {
        thread_.join();
        return got_;
    }

private:
    std::string got_;
    std::thread thread_;
};

TEST_F(OutputTest, FifosDevicesAndSocketsAreWrittenStraightThrough) {
    const std::string fifo = out_.File("out.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(symlink("out.fifo", out_.File("link.wav").c_str()), 0);
    for (const std::string &name : {fifo, out_.File("link.wav")}) {
        for (bool direct : {false, true}) {
            Reader reader([&] { return open(fifo.c_str(), O_RDONLY); });
            ASSERT_EQ(Join(name, direct), JoinStatus::Ok);
            const std::string got = reader.Take();
            EXPECT_EQ(got.substr(44), Joined());
            // The window's join knows the size before it writes; the direct one does not.
            EXPECT_EQ(GetLE32(got, 40), direct ? 0xFFFFFFFFu : 40000u);
            EXPECT_TRUE(S_ISFIFO(Stat(fifo).st_mode));
        }
    }
    // Nobody reads: a stop still ends the wait.
    Recorder rec;
    rec.stopAt = 3;
    JoinRequest req = WavJoin(tmp_, {{a_, kCd}}, fifo);
    req.direct = true;
    EXPECT_EQ(RunJoin(req, rec), JoinStatus::Stopped);

    const std::string sock = out_.File("out.sock");
    const int server = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock.c_str());
    ASSERT_EQ(bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(server, 1), 0);
    Reader accepted([server] { return accept(server, nullptr, nullptr); });
    EXPECT_EQ(Join(sock, true), JoinStatus::Ok);
    EXPECT_EQ(accepted.Take().substr(44), Joined());
    close(server);

    if (IsRoot()) {
        const std::string null = out_.File("null");
        ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
        EXPECT_EQ(Join(null, false), JoinStatus::Ok);
        EXPECT_EQ(Join(null, true), JoinStatus::Ok);
        EXPECT_TRUE(S_ISCHR(Stat(null).st_mode));
        // A device is a stream: its header is written first and never read back.
        OutputFile device;
        ASSERT_TRUE(device.Open(null, nullptr));
        EXPECT_FALSE(device.Seekable());
    }
    EXPECT_EQ(Listing(out_.Path()).size(), IsRoot() ? 4u : 3u);
    EXPECT_TRUE(Listing(tmp_.Path()).empty());
}

TEST_F(OutputTest, PlantedLinksAndNamesTakenMeanwhileAreLeftAlone) {
    // A new name that something else takes during the join is not replaced.
    const std::string taken = out_.File("taken.wav");
    OutputFile file;
    ASSERT_TRUE(file.Open(taken, nullptr));
    ASSERT_EQ(write(file.Fd(), "JOINED", 6), 6);
    WriteFile(taken, "someone else's");
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(file.Error(), EEXIST);
    EXPECT_EQ(ReadFile(taken), "someone else's");

    if (!IsRoot())
        GTEST_SKIP() << "another user's link needs root";
    // In a shared sticky folder (as /tmp), another user's link is not followed.
    const std::string shared = out_.File("shared"), link = shared + "/out.wav";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    WriteFile(out_.File("victim"), "precious");
    ASSERT_EQ(symlink(out_.File("victim").c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
    for (bool direct : {false, true}) {
        MessageLog log;
        EXPECT_EQ(Join(link, direct), JoinStatus::Failed);
        ASSERT_EQ(log.shown.size(), 1u);
        EXPECT_EQ(log.shown[0],
                  "Error: Cannot creat the output file.\n" + link + "\nPermission denied");
        EXPECT_EQ(ReadFile(out_.File("victim")), "precious");
    }
    // One's own link there is followed.
    ASSERT_EQ(lchown(link.c_str(), 0, 0), 0);
    EXPECT_EQ(Join(link, false), JoinStatus::Ok);
    EXPECT_EQ(DataChunk(ReadFile(out_.File("victim"))), Joined());
}

// Whatever another user's link in a shared sticky folder leads to, and wherever on the path it
// lies, it is not followed: not to a device, a FIFO with its reader, nor a folder.
TEST_F(OutputTest, PlantedLinksToDevicesFifosAndFoldersAreNotFollowed) {
    if (!IsRoot())
        GTEST_SKIP() << "another user's link and a device node need root";
    const std::string shared = out_.File("shared");
    ASSERT_EQ(mkdir(shared.c_str(), 01777), 0);
    ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
    const std::string null = out_.File("null"), fifo = out_.File("fifo");
    const std::string folder = out_.File("folder"), victim = folder + "/victim.wav";
    ASSERT_EQ(mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
    WriteFile(victim, "precious");
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    auto plant = [&](const std::string &name, const std::string &to) {
        const std::string link = shared + "/" + name;
        EXPECT_EQ(symlink(to.c_str(), link.c_str()), 0);
        EXPECT_EQ(lchown(link.c_str(), 65534, 65534), 0);
        return link;
    };
    const std::string outputs[] = {plant("null.wav", null), plant("fifo.wav", fifo),
                                   plant("dir", folder) + "/victim.wav"};
    for (const std::string &output : outputs) {
        for (bool direct : {false, true}) {
            SCOPED_TRACE(output);
            MessageLog log;
            EXPECT_EQ(Join(output, direct), JoinStatus::Failed);
            ASSERT_EQ(log.shown.size(), 1u);
            EXPECT_NE(log.shown[0].find("Permission denied"), std::string::npos) << log.shown[0];
        }
    }
    char buf[16];
    EXPECT_LE(read(reader, buf, sizeof buf), 0) << "nothing reached the FIFO's reader";
    close(reader);
    EXPECT_EQ(ReadFile(victim), "precious");
    // The folder owner's link is followed, as the kernel follows it.
    const std::string own = plant("own.wav", out_.File("mine.wav"));
    ASSERT_EQ(lchown(own.c_str(), 0, 0), 0);
    EXPECT_EQ(Join(own, false), JoinStatus::Ok);
    EXPECT_EQ(DataChunk(ReadFile(out_.File("mine.wav"))), Joined());
}

// A block device is an output only when named by the user or through the user's own links.
TEST_F(OutputTest, ABlockDeviceIsNeverReachedThroughAnotherUsersLink) {
    if (!IsRoot())
        GTEST_SKIP() << "loop devices need root";
    const std::string image = out_.File("disk.img");
    WriteFile(image, std::string(1 << 20, 'D'));
    const auto attached = testutil::Run("losetup -f --show " + Quote(image));
    if (attached.exitCode != 0)
        GTEST_SKIP() << "no loop device here: " << attached.output;
    const std::string loop = attached.output.substr(0, attached.output.find('\n'));
    struct stat st {};
    ASSERT_EQ(stat(loop.c_str(), &st), 0);
    const std::string node = out_.File("blk"), link = out_.File("other.wav");
    ASSERT_EQ(mknod(node.c_str(), S_IFBLK | 0600, st.st_rdev), 0);
    ASSERT_EQ(symlink(node.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
    MessageLog log;
    EXPECT_EQ(Join(link, true), JoinStatus::Failed);
    EXPECT_EQ(Join(node, true), JoinStatus::Ok);
    testutil::Run("losetup -d " + Quote(loop));
    EXPECT_EQ(ReadFile(image).substr(0, 4), "RIFF");
    EXPECT_EQ(log.shown.size(), 1u);
}

// Copying the join into a file of two names must finish once begun, and is then no stop.
TEST_F(OutputTest, CopyIntoPlaceFinishesOnceBegunAndWithoutSpaceReservation) {
    const std::string out = out_.File("out.wav"), other = out_.File("other.wav");
    for (bool direct : {false, true}) {
        WriteFile(out, "OLD");
        unlink(other.c_str());
        ASSERT_EQ(link(out.c_str(), other.c_str()), 0);
        Recorder count;
        ASSERT_EQ(Join(out, direct, &count), JoinStatus::Ok);
        WriteFile(out, "OLD");
        Recorder rec;
        rec.stopAt = count.checks; // the last check: during the copy into place
        EXPECT_EQ(Join(out, direct, &rec), JoinStatus::Ok);
        EXPECT_EQ(DataChunk(ReadFile(other)), Joined());
    }
    // A file system that cannot reserve space (NFS, FUSE): the copy goes on without it.
    const pid_t child = fork();
    if (child == 0) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fallocate, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{sizeof filter / sizeof filter[0], filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            _exit(2);
        WriteFile(out, "OLD");
        _exit(Join(out, true) == JoinStatus::Ok && DataChunk(ReadFile(other)) == Joined() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Runs body in a child process in which the file system refuses unnamed files (O_TMPFILE), as
// FUSE and FAT do; the child's exit code.
int WithoutUnnamedFiles(const std::function<int()> &body) {
    const pid_t child = fork();
    if (child == 0) {
        sock_filter filter[] = {
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
            BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
            BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
            BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
            BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        };
        sock_fprog program{sizeof filter / sizeof filter[0], filter};
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            _exit(2);
        _exit(body());
    }
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A killed join leaves its stand-in; the next join into that folder removes it, and nothing
// that is not exactly a gone process's stand-in of this user.
TEST_F(OutputTest, StandInsOfKilledJoinsAreRemovedByTheNextJoin) {
    const int killed = WithoutUnnamedFiles([&] {
        OutputFile file;
        if (!file.Open(out_.File("new.wav"), nullptr) || write(file.Fd(), "PART", 4) != 4)
            return 1;
        const std::string name = BaseName(file.WritePath());
        _exit(name.rfind(".tandrel-" + std::to_string(getpid()) + "-", 0) == 0 ? 0 : 3);
    });
    EXPECT_EQ(killed, 0) << "the stand-in's name tells its process";
    const std::vector<std::string> left = Listing(out_.Path());
    ASSERT_EQ(left.size(), 1u);
    const std::string standIn = left[0];
    // Names that must stay: this process's own, near misses, a link and a folder.
    const std::string gone = standIn.substr(9, standIn.find('-', 9) - 9);
    const std::string own = ".tandrel-" + std::to_string(getpid()) + "-abcdef.part";
    const std::vector<std::string> kept = {
        own, ".tandrel-" + gone + "-abcdef.part.wav", ".tandrel-" + gone + "-abcde.part",
        ".tandrel-" + gone + "-ab_def.part", ".tandrel-x" + gone + "-abcdef.part"};
    for (const std::string &name : kept)
        WriteFile(out_.File(name), "keep");
    ASSERT_EQ(symlink(a_.c_str(), out_.File(".tandrel-" + gone + "-linked.part").c_str()), 0);
    ASSERT_EQ(mkdir(out_.File(".tandrel-" + gone + "-folder.part").c_str(), 0700), 0);
    std::vector<std::string> expected = kept;
    expected.push_back(".tandrel-" + gone + "-linked.part");
    expected.push_back(".tandrel-" + gone + "-folder.part");
    if (IsRoot()) {
        const std::string others = ".tandrel-" + gone + "-others.part";
        WriteFile(out_.File(others), "keep");
        ASSERT_EQ(chown(out_.File(others).c_str(), 65534, 65534), 0);
        expected.push_back(others);
    }
    expected.push_back("joined.wav");
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(Join(out_.File("joined.wav"), true), JoinStatus::Ok);
    EXPECT_EQ(Listing(out_.Path()), expected);
    EXPECT_EQ(ReadFile(a_).size(), 20044u) << "a link's target is left alone";
}

// A folder that takes no new file: its inodes used up.
TEST_F(OutputTest, FolderThatTakesNoNewFile) {
    const std::string folder = out_.File("closed");
    SmallDisk disk(folder, "size=1m,nr_inodes=2");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here";
    WriteFile(folder + "/out.wav", "OLD");
    for (bool direct : {false, true}) {
        ASSERT_EQ(Join(folder + "/out.wav", direct), JoinStatus::Ok);
        EXPECT_EQ(DataChunk(ReadFile(folder + "/out.wav")), Joined());
    }
    MessageLog log;
    EXPECT_EQ(Join(folder + "/new.wav", false), JoinStatus::Failed);
    ASSERT_EQ(log.shown.size(), 1u);
    EXPECT_EQ(log.shown[0].find("Error: Cannot creat the output file.\n" + folder + "/new.wav\n"),
              0u);
    // The join must fit where the old file is: when it cannot, the old file stays whole.
    WriteFile(folder + "/out.wav", "OLD");
    a_ = WavFile(in_, "a.wav", 700000, 'a');
    b_ = WavFile(in_, "b.wav", 700000, 'b');
    EXPECT_EQ(Join(folder + "/out.wav", false), JoinStatus::Failed);
    EXPECT_EQ(ReadFile(folder + "/out.wav"), "OLD");
    EXPECT_NE(log.shown.back().find("No space left on device"), std::string::npos);
    EXPECT_EQ(Listing(folder), std::vector<std::string>{"out.wav"});
    EXPECT_TRUE(Listing(tmp_.Path()).empty());
}

TEST_F(OutputTest, EncoderWriteFailuresNameTheFileAndTheReason) {
    const std::string full = out_.File("full");
    SmallDisk disk(full, "size=64k");
    if (!disk.Mounted())
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    a_ = WavFile(in_, "a.wav", 2000000, 'a');
    const std::pair<OutputKind, std::string> cases[] = {
        {OutputKind::Wma, "Error: Cannot creat the output file.\n" + full + "/out.wma\n"},
        {OutputKind::Mp3, "Error: Cannot creat the output file.\n" + full + "/out.mp3\n"},
    };
    for (const auto &[kind, message] : cases) {
        for (bool direct : {false, true}) {
            const std::string out = full + (kind == OutputKind::Wma ? "/out.wma" : "/out.mp3");
            WriteFile(out, "OLD");
            MessageLog log;
            Recorder rec;
            JoinRequest req = WavJoin(tmp_, {{a_, kCd}}, out);
            req.output.kind = kind;
            req.direct = direct;
            req.makeEncoder = MakeEncoderSink;
            EXPECT_EQ(RunJoin(req, rec), JoinStatus::Failed);
            ASSERT_EQ(log.shown.size(), 1u);
            EXPECT_EQ(log.shown[0], message + "No space left on device");
            EXPECT_EQ(ReadFile(out), "OLD");
            EXPECT_EQ(Listing(full).size(), 1u);
            unlink(out.c_str());
        }
    }
}

} // namespace

// Standard output sent to a regular file: a join thrown away to be made again (one that keeps
// MP3 frames, made again by re-encoding) leaves the file, and the place the next writes go to,
// where it began.
TEST_F(OutputTest, AThrownAwayJoinOntoOurOwnDescriptorLeavesItWhereItBegan) {
    const std::string path = out_.File("out.bin");
    for (const std::string before : {"", "kept:"}) {
        SCOPED_TRACE(before);
        WriteFile(path, before);
        const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(lseek(fd, off_t(before.size()), SEEK_SET), off_t(before.size()));
        const std::string name = "/dev/fd/" + std::to_string(fd);
        OutputFile first;
        ASSERT_TRUE(first.Open(name, nullptr));
        ASSERT_EQ(write(first.Fd(), "thrown away", 11), 11);
        first.Discard(true);
        EXPECT_EQ(lseek(fd, 0, SEEK_CUR), off_t(before.size()));
        OutputFile second;
        ASSERT_TRUE(second.Open(name, nullptr));
        ASSERT_EQ(write(second.Fd(), "joined", 6), 6);
        ASSERT_TRUE(second.Commit());
        close(fd);
        EXPECT_EQ(ReadFile(path), before + "joined");
    }
}
