#include "join/OutputBackup.h"

#include "common/FileIo.h"
#include "common/Messages.h"
#include "join/OutputFile.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace tandrel {
namespace {

// Small enough that the window hears keepAlive often, large enough to cost nothing.
constexpr std::size_t kCopyChunk = 4 << 20;
constexpr const char *kBackupSuffix = ".tandrel-backup";

std::string ProcFdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

void SyncFolder(const std::string &folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// Copies the first size bytes of from to the start of to. 0, or the errno of the failure.
int CopyRange(int from, int to, off_t size, const std::function<void()> &keepAlive) {
    off_t in = 0, out = 0;
    bool kernelCopy = true;
    std::vector<std::uint8_t> buffer;
    while (in < size) {
        const std::size_t want = std::size_t(std::min<off_t>(size - in, kCopyChunk));
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(from, &in, to, &out, want, 0);
            if (n < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
        } else {
            buffer.resize(1 << 20);
            n = ::pread(from, buffer.data(), std::min(want, buffer.size()), in);
            if (n > 0 && ::pwrite(to, buffer.data(), std::size_t(n), out) != n)
                n = -1;
            if (n > 0) {
                in += n;
                out += n;
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        if (keepAlive)
            keepAlive();
    }
    return 0;
}

// Space for size bytes in fd, which holds old now. Where the file system cannot reserve it,
// the free space must cover the growth and the blocks that map it.
int Reserve(int fd, off_t size, const struct stat &old) {
    if (size == 0 || ::fallocate(fd, 0, 0, size) == 0)
        return 0;
    const int err = errno;
    if (err != EOPNOTSUPP && err != ENOSYS && err != EINVAL) {
        (void)::ftruncate(fd, old.st_size); // a failed reservation may have moved the end
        return err;
    }
    struct statvfs disk {};
    if (::fstatvfs(fd, &disk) != 0)
        return errno;
    const off_t held = std::min<off_t>(old.st_size, off_t(old.st_blocks) * 512);
    const auto growth = std::uint64_t(std::max<off_t>(size - held, 0));
    const std::uint64_t need = growth == 0 ? 0 : growth + growth / 128 + (64 << 10);
    return std::uint64_t(disk.f_bavail) * disk.f_frsize >= need ? 0 : ENOSPC;
}

// One backup of a file's old contents, from its unnamed start to its removal.
class Backup {
public:
    ~Backup() { Drop(); }
    int Save(const CopyIntoRequest &r, const struct stat &old);
    int Restore(int targetFd, off_t size, bool durable);
    void Remove(bool durable);
    const std::string &Name() const { return name_; }

private:
    int Create(const CopyIntoRequest &r, const struct stat &old);
    int Link();
    void Drop();

    int fd_ = -1;
    std::string folder_, name_, named_;
};

int Backup::Create(const CopyIntoRequest &r, const struct stat &old) {
    folder_ = DirName(r.target);
    name_ = BackupBeside(r.target, old);
    fd_ = CreateUnnamedFile(folder_, 0600, ".tandrel-", ".part", named_);
    if (fd_ >= 0 || r.spareFolder.empty())
        return fd_ >= 0 ? 0 : errno;
    folder_ = r.spareFolder;
    name_ = BackupInSpare(r.spareFolder, old);
    fd_ = CreateUnnamedFile(folder_, 0600, ".tandrel-", ".part", named_);
    return fd_ >= 0 ? 0 : errno;
}

// Gives the finished backup its name; one already there is never replaced.
int Backup::Link() {
    if (named_.empty()) {
        return ::linkat(AT_FDCWD, ProcFdPath(fd_).c_str(), AT_FDCWD, name_.c_str(),
                        AT_SYMLINK_FOLLOW) == 0
                   ? 0
                   : errno;
    }
    if (::link(named_.c_str(), name_.c_str()) != 0)
        return errno;
    ::unlink(named_.c_str());
    named_.clear();
    return 0;
}

int Backup::Save(const CopyIntoRequest &r, const struct stat &old) {
    const int readFd = ::open(ProcFdPath(r.targetFd).c_str(), O_RDONLY | O_CLOEXEC);
    if (readFd < 0)
        return errno;
    int err = Create(r, old);
    if (err == 0)
        err = CopyRange(readFd, fd_, old.st_size, r.keepAlive);
    ::close(readFd);
    // The file's owner may put it back by hand.
    if (err == 0 && ::geteuid() == 0)
        (void)::fchown(fd_, old.st_uid, old.st_gid);
    if (err == 0 && r.durable && ::fsync(fd_) != 0)
        err = errno;
    if (err == 0)
        err = Link();
    if (err != 0) {
        Drop();
        name_.clear();
        return err;
    }
    if (r.durable)
        SyncFolder(folder_);
    return 0;
}

int Backup::Restore(int targetFd, off_t size, bool durable) {
    int err = CopyRange(fd_, targetFd, size, nullptr);
    if (err == 0 && ::ftruncate(targetFd, size) != 0)
        err = errno;
    if (err == 0 && durable && ::fsync(targetFd) != 0)
        err = errno;
    return err;
}

void Backup::Remove(bool durable) {
    if (!name_.empty() && ::unlink(name_.c_str()) == 0 && durable)
        SyncFolder(folder_);
    name_.clear();
    Drop();
}

void Backup::Drop() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!named_.empty())
        ::unlink(named_.c_str());
    named_.clear();
}

// A backup this user or the file's owner made, and nothing else that took the name.
bool IsBackupOf(const std::string &backup, const struct stat &target) {
    struct stat st {};
    return ::lstat(backup.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
           (st.st_uid == ::geteuid() || st.st_uid == target.st_uid);
}

// Copies backup into target, then removes it. 0, or the errno of the failure.
int PutBack(const std::string &backup, const std::string &target) {
    const int from = ::open(backup.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (from < 0)
        return errno;
    const int to = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    int err = to < 0 || ::fstat(from, &st) != 0 ? errno : 0;
    if (err == 0)
        err = CopyRange(from, to, st.st_size, nullptr);
    if (err == 0 && ::ftruncate(to, st.st_size) != 0)
        err = errno;
    if (err == 0 && ::fsync(to) != 0)
        err = errno;
    if (to >= 0)
        ::close(to);
    ::close(from);
    if (err == 0 && ::unlink(backup.c_str()) == 0)
        SyncFolder(DirName(backup));
    return err;
}

} // namespace

std::string BackupBeside(const std::string &target, const struct stat &st) {
    const std::string name = BaseName(target) + kBackupSuffix;
    if (name.size() <= NAME_MAX)
        return DirName(target) + "/" + name;
    return BackupInSpare(DirName(target), st);
}

std::string BackupInSpare(const std::string &spareFolder, const struct stat &st) {
    return spareFolder + "/" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino) +
           kBackupSuffix;
}

int CopyIntoPlace(const CopyIntoRequest &r) {
    struct stat from {
    }, old{};
    if (::fstat(r.fromFd, &from) != 0 || ::fstat(r.targetFd, &old) != 0)
        return errno;
    // The old contents reach the disk elsewhere before a byte of them is overwritten.
    Backup backup;
    if (const int err = backup.Save(r, old))
        return err;
    int err = Reserve(r.targetFd, from.st_size, old);
    if (err != 0) {
        backup.Remove(r.durable);
        return err;
    }
    err = CopyRange(r.fromFd, r.targetFd, from.st_size, r.keepAlive);
    if (err == 0 && ::ftruncate(r.targetFd, from.st_size) != 0)
        err = errno;
    if (err == 0 && r.durable && ::fsync(r.targetFd) != 0)
        err = errno;
    if (err == 0 || backup.Restore(r.targetFd, old.st_size, r.durable) == 0) {
        backup.Remove(r.durable);
        return err;
    }
    ShowMessage(kAppTitle, MsgText(Msg::BackupKept) + "\n" + backup.Name(), MsgIcon::Warning);
    return err;
}

bool RestoreLeftBackup(const std::string &output, const std::string &spareFolder) {
    std::string target;
    if (output.empty() || output.rfind("/proc/self/fd/", 0) == 0 || !FollowLinks(output, target))
        return true; // nothing of ours, or the output stage says what is wrong
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) {
        const std::string left = target + kBackupSuffix;
        if (errno == ENOENT && ::access(left.c_str(), F_OK) == 0)
            ShowMessage(kAppTitle, MsgText(Msg::BackupLeft) + "\n" + left, MsgIcon::Information);
        return true;
    }
    if (!S_ISREG(st.st_mode))
        return true;
    for (const std::string &backup :
         {BackupBeside(target, st), spareFolder.empty() ? "" : BackupInSpare(spareFolder, st)}) {
        if (backup.empty() || !IsBackupOf(backup, st))
            continue;
        if (const int err = PutBack(backup, target)) {
            ShowMessage(MsgText(Msg::ErrorCaption),
                        MsgLines(Msg::BackupNotRestored, backup, SystemError(err)));
            return false;
        }
        ShowMessage(kAppTitle, MsgLines(Msg::BackupRestored, output, backup), MsgIcon::Information);
    }
    return true;
}

} // namespace tandrel
