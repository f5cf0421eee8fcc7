#include "join/OutputFile.h"

#include "common/FileIo.h"
#include "join/OutputBackup.h"
#include "join/OutputNames.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace tandrel {
namespace {

constexpr int kMaxLinks = 40;

std::string ProcFdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

mode_t CurrentUmask() {
    // Read, not set: umask() would change it under other threads for a moment.
    if (std::FILE *f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 022;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(f);
        return mode_t(mask);
    }
    return 022;
}

bool InGroup(gid_t gid) {
    if (gid == ::getegid())
        return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(std::size_t(n), 0);
    const int got = ::getgroups(n, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.end();
}

// Whether a new file can be given this file's owner, group and permission bits.
bool MayTakeOver(const struct stat &st) {
    if (::geteuid() == 0)
        return true;
    return st.st_uid == ::geteuid() && InGroup(st.st_gid);
}

bool HasAcl(int fd) {
    return ::fgetxattr(fd, "system.posix_acl_access", nullptr, 0) > 0;
}

bool SameInode(const struct stat &a, int fd) {
    struct stat b {};
    return ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int ConnectSocket(const std::string &path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(s);
        errno = err;
        return -1;
    }
    return s;
}

} // namespace

namespace {

// The names of a path, last first, so that the next one to look at is at the back.
void PushNames(const std::string &path, std::vector<std::string> &stack) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at)
            names.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    stack.insert(stack.end(), names.rbegin(), names.rend());
}

// The descriptor one of our own descriptors' names stands for, or -1.
int OwnDescriptor(const std::string &path) {
    const std::pair<const char *, int> standard[] = {
        {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
    for (const auto &[name, fd] : standard)
        if (path == name)
            return fd;
    const std::string folders[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/",
                                   "/proc/" + std::to_string(::getpid()) + "/fd/"};
    for (const std::string &folder : folders)
        if (path.rfind(folder, 0) == 0 && path.size() > folder.size() &&
            path.size() - folder.size() <= 9 &&
            path.find_first_not_of("0123456789", folder.size()) == std::string::npos)
            return std::atoi(path.c_str() + folder.size());
    return -1;
}

// A descriptor's link in /proc that leads to no name ("pipe:[77]"): only the kernel follows it.
bool IsMagicLink(const std::string &folder, const std::string &to) {
    return folder.rfind("/proc/", 0) == 0 && folder.size() > 3 &&
           folder.compare(folder.size() - 3, 3, "/fd") == 0 && !to.empty() && to[0] != '/';
}

std::string Child(const std::string &folder, const std::string &name) {
    return folder.empty() ? name : folder == "/" ? "/" + name : folder + "/" + name;
}

// As the kernel guards shared folders such as /tmp: a link there is followed only when it is
// the follower's own or the folder owner's.
bool MayFollow(const struct stat &link, const std::string &folder) {
    struct stat dir {};
    return ::stat(folder.empty() ? "." : folder.c_str(), &dir) != 0 || !(dir.st_mode & S_ISVTX) ||
           !(dir.st_mode & S_IWOTH) || link.st_uid == ::geteuid() || link.st_uid == dir.st_uid;
}

} // namespace

bool FollowLinks(const std::string &path, std::string &result, bool *othersLink) {
    std::vector<std::string> rest;
    PushNames(path, rest);
    std::string done = !path.empty() && path[0] == '/' ? "/" : "";
    int hops = 0;
    while (!rest.empty()) {
        const std::string name = rest.back();
        rest.pop_back();
        const std::string p = Child(done, name);
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return false;
            done = p; // a name that does not exist yet: what opening it will say
            for (auto it = rest.rbegin(); it != rest.rend(); ++it)
                done = Child(done, *it);
            break;
        }
        if (!S_ISLNK(st.st_mode)) {
            done = p;
            continue;
        }
        if (++hops > kMaxLinks) {
            errno = ELOOP;
            return false;
        }
        if (!MayFollow(st, done)) {
            errno = EACCES;
            return false;
        }
        if (othersLink && st.st_uid != ::geteuid())
            *othersLink = true;
        std::vector<char> buf(PATH_MAX + 1);
        const ssize_t n = ::readlink(p.c_str(), buf.data(), buf.size() - 1);
        if (n < 0)
            return false;
        const std::string to(buf.data(), std::size_t(n));
        if (IsMagicLink(done, to)) {
            done = p;
            for (auto it = rest.rbegin(); it != rest.rend(); ++it)
                done = Child(done, *it);
            break;
        }
        if (!to.empty() && to[0] == '/')
            done = "/";
        PushNames(to, rest);
    }
    result = done.empty() ? "." : done;
    return true;
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Fail(int err) {
    error_ = err;
    return false;
}

void OutputFile::CloseAll() {
    if (fd_ >= 0)
        ::close(fd_);
    if (targetFd_ >= 0)
        ::close(targetFd_);
    fd_ = targetFd_ = -1;
}

void OutputFile::Discard(bool again) {
    if (mode_ == Mode::Direct && keepBytes_ >= 0 && fd_ >= 0) {
        (void)::ftruncate(fd_, keepBytes_);
        // The offset is shared with the descriptor we were given: the join made again is
        // written where this one began. Otherwise it stays, to tell how far this one wrote.
        if (again && startedAt_ >= 0)
            (void)::lseek(fd_, startedAt_, SEEK_SET);
    }
    keepBytes_ = startedAt_ = -1;
    CloseAll();
    if (!tempName_.empty())
        ::unlink(tempName_.c_str());
    tempName_.clear();
    mode_ = Mode::None;
}

std::string OutputFile::WritePath() const {
    if (fd_ < 0)
        return "";
    if (mode_ == Mode::Direct)
        return socket_ ? "" : target_;
    return tempName_.empty() ? ProcFdPath(fd_) : tempName_;
}

bool OutputFile::CreateTemp(const std::string &folder, bool privateMode) {
    RemoveOrphanStandIns(folder);
    fd_ = CreateUnnamedFile(folder, privateMode ? 0600 : 0666, StandInPrefix(), kStandInSuffix,
                            tempName_);
    return fd_ >= 0 || Fail(errno);
}

bool OutputFile::OpenDirect(const std::string &path, const struct stat &st,
                            const std::function<bool()> &shouldStop, bool procName) {
    mode_ = Mode::Direct;
    target_ = path;
    seekable_ = false;
    if (S_ISSOCK(st.st_mode)) {
        socket_ = true;
        // Our own standard output or error, given by name: a socket cannot be opened.
        for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            if (SameInode(st, fd)) {
                fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
                return fd_ >= 0 || Fail(errno);
            }
        }
        fd_ = ConnectSocket(path);
        return fd_ >= 0 || Fail(errno);
    }
    const int flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | (procName ? 0 : O_NOFOLLOW);
    if (S_ISFIFO(st.st_mode)) {
        // Waits for a reader without blocking, so that a stop is still heard.
        for (;;) {
            fd_ = ::open(path.c_str(), flags | O_NONBLOCK);
            if (fd_ >= 0)
                break;
            if (errno != ENXIO && errno != EINTR)
                return Fail(errno);
            if (shouldStop && shouldStop())
                return Fail(0);
            ::usleep(20000);
        }
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
        return SameInode(st, fd_) || Fail(EEXIST);
    }
    // A device is written as a stream, front to back: its contents are not ours to read.
    fd_ = ::open(path.c_str(), flags);
    if (fd_ < 0)
        return Fail(errno);
    return SameInode(st, fd_) || Fail(EEXIST); // something else took its place meanwhile
}

bool OutputFile::WriteThrough(int fd, const struct stat &st) {
    mode_ = Mode::Direct;
    fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fd_ < 0)
        return Fail(errno);
    target_ = ProcFdPath(fd_);
    // Headers are written back only when the join starts the file and stays in place.
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    const bool append = ::fcntl(fd_, F_GETFL) & O_APPEND;
    seekable_ = at == 0 && !append;
    // A join that does not finish leaves the file as long as it was.
    keepBytes_ = append || at < 0 ? st.st_size : std::max<off_t>(at, st.st_size);
    startedAt_ = append ? -1 : at;
    return true;
}

bool OutputFile::Open(const std::string &chosen, const std::function<bool()> &shouldStop,
                      const OutputFileOptions &options) {
    Discard();
    error_ = 0;
    socket_ = false;
    seekable_ = true;
    durable_ = options.durable;
    spareFolder_ = options.spareFolder;
    struct stat st {};
    // A name that cannot be a file's ("out.wav/"): refused as the system refuses it.
    if (!chosen.empty() && chosen.back() == '/')
        return Fail(::stat(chosen.c_str(), &st) == 0 || errno != ENOENT ? ENOTDIR : EISDIR);
    // One of our own descriptors by name ("/dev/stdout", "/dev/fd/3", "/proc/self/fd/1"): a
    // regular file behind it is written through that descriptor, never replaced by name.
    if (const int fd = OwnDescriptor(chosen); fd >= 0 && ::fstat(fd, &st) == 0) {
        // A pipe, socket or device behind it: opened anew through its /proc name, which is no
        // link to follow.
        if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
            return OpenDirect(ProcFdPath(fd), st, shouldStop, true);
        if (S_ISREG(st.st_mode))
            return WriteThrough(fd, st);
    }
    // Every link on the way is judged before anything is opened; what is opened is judged by
    // its descriptor.
    bool othersLink = false;
    if (!FollowLinks(chosen, target_, &othersLink))
        return Fail(errno);
    if (::lstat(target_.c_str(), &st) == 0) {
        // Another process's descriptor by its /proc name: what the kernel finds behind it.
        if (S_ISLNK(st.st_mode)) {
            if (::stat(target_.c_str(), &st) != 0)
                return Fail(errno);
            if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
                return OpenDirect(target_, st, shouldStop, true);
            return Fail(ELOOP);
        }
        if (S_ISDIR(st.st_mode))
            return Fail(EISDIR);
        // A block device only when the user named it, not through another user's link.
        if (S_ISBLK(st.st_mode) && othersLink)
            return Fail(EACCES);
        if (!S_ISREG(st.st_mode))
            return OpenDirect(target_, st, shouldStop);
    } else if (errno != ENOENT) {
        return Fail(errno);
    }
    const std::string folder = DirName(target_);
    // The existing file itself, never through a link that appeared since, and only when the
    // user may write it.
    targetFd_ = ::open(target_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (targetFd_ < 0) {
        if (errno != ENOENT)
            return Fail(errno);
        mode_ = Mode::Create;
        return CreateTemp(folder, false);
    }
    if (::fstat(targetFd_, &old_) != 0 || !S_ISREG(old_.st_mode))
        return Fail(EEXIST); // became something else since the first look
    ::fcntl(targetFd_, F_SETFL, ::fcntl(targetFd_, F_GETFL) & ~O_NONBLOCK);
    if (old_.st_nlink == 1 && MayTakeOver(old_) && !HasAcl(targetFd_) && CreateTemp(folder, true)) {
        mode_ = Mode::Rename;
        ::close(targetFd_);
        targetFd_ = -1;
        return true;
    }
    error_ = 0;
    mode_ = Mode::CopyInto;
    if (CreateTemp(folder, true))
        return true;
    if (options.spareFolder.empty())
        return false;
    error_ = 0;
    return CreateTemp(options.spareFolder, true);
}

bool OutputFile::Name(const std::string &dest, bool replace) {
    // A new name that something else took meanwhile is left to it (EEXIST). A stand-in is
    // renamed: file systems without unnamed files often have no hard links either (FAT).
    if (!tempName_.empty()) {
        if (replace ? ::rename(tempName_.c_str(), dest.c_str()) != 0
                    : !RenameNoReplace(tempName_, dest))
            return Fail(errno);
        tempName_.clear();
        return true;
    }
    const std::string from = ProcFdPath(fd_);
    if (!replace) {
        if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, dest.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return true;
        return Fail(errno);
    }
    // Linked in under a short unique name, then moved over the old file in one step.
    std::string stand;
    const int probe = CreateUniqueFile(DirName(dest), StandInPrefix(), kStandInSuffix, 0600, stand);
    if (probe < 0)
        return Fail(errno);
    ::close(probe);
    ::unlink(stand.c_str());
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, stand.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return Fail(errno);
    if (::rename(stand.c_str(), dest.c_str()) != 0) {
        const int err = errno;
        ::unlink(stand.c_str());
        return Fail(err);
    }
    return true;
}

bool OutputFile::CopyIntoPlace() {
    const int err =
        tandrel::CopyIntoPlace({fd_, targetFd_, target_, spareFolder_, durable_, keepAlive_});
    return err == 0 || Fail(err);
}

void OutputFile::SyncFolder(const std::string &folder) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool OutputFile::Commit(const std::function<void()> &keepAlive) {
    keepAlive_ = keepAlive;
    bool ok = true;
    switch (mode_) {
    case Mode::None:
        return Fail(EBADF);
    case Mode::Direct:
        break;
    case Mode::Create:
        ok = (!durable_ || ::fsync(fd_) == 0 || Fail(errno)) &&
             (tempName_.empty() || ::fchmod(fd_, 0666 & ~CurrentUmask()) == 0 ||
              KeepsNoModes(errno) || Fail(errno)) &&
             Name(target_, false);
        break;
    case Mode::Rename: {
        const bool owner = old_.st_uid != ::geteuid() || old_.st_gid != ::getegid();
        ok = (!durable_ || ::fsync(fd_) == 0 || Fail(errno)) &&
             (!owner || ::fchown(fd_, old_.st_uid, old_.st_gid) == 0 || KeepsNoModes(errno) ||
              Fail(errno)) &&
             (::fchmod(fd_, old_.st_mode & 07777) == 0 || KeepsNoModes(errno) || Fail(errno)) &&
             Name(target_, true);
        break;
    }
    case Mode::CopyInto:
        ok = CopyIntoPlace();
        break;
    }
    if (ok && durable_ && (mode_ == Mode::Create || mode_ == Mode::Rename))
        SyncFolder(DirName(target_));
    keepBytes_ = startedAt_ = -1;
    Discard();
    return ok;
}

} // namespace tandrel
