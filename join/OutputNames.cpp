#include "join/OutputNames.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tandrel {
namespace {

constexpr char kStem[] = ".tandrel-";
constexpr std::size_t kRandomChars = 6;

bool AllOf(const std::string &text, std::size_t from, std::size_t to, int (*test)(int)) {
    for (std::size_t i = from; i < to; ++i)
        if (!test(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// The process a stand-in name belongs to, or 0 when the name is not exactly a stand-in's.
pid_t StandInProcess(const std::string &name) {
    const std::string suffix = kStandInSuffix;
    const std::size_t stem = sizeof kStem - 1;
    if (name.size() < stem + 2 + 1 + kRandomChars + suffix.size() || name.rfind(kStem, 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return 0;
    const std::size_t random = name.size() - suffix.size() - kRandomChars;
    const std::size_t dash = random - 1;
    if (name[dash] != '-' || dash - stem > 9 || name[stem] == '0' ||
        !AllOf(name, stem, dash, ::isdigit) ||
        !AllOf(name, random, random + kRandomChars, ::isalnum))
        return 0;
    return pid_t(std::stol(name.substr(stem, dash - stem)));
}

} // namespace

std::string StandInPrefix() {
    return kStem + std::to_string(::getpid()) + "-";
}

void RemoveOrphanStandIns(const std::string &folder) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const pid_t pid = StandInProcess(entry->d_name);
        if (pid <= 0 || pid == ::getpid())
            continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

bool RenameNoReplace(const std::string &from, const std::string &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
    // No such rename here (FUSE, older kernels): something that has the name keeps it.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && ::rename(from.c_str(), to.c_str()) == 0;
}

bool KeepsNoModes(int err) {
    return err == ENOSYS || err == EPERM || err == EOPNOTSUPP;
}

} // namespace tandrel
