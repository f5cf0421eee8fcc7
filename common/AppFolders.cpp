#include "common/AppFolders.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef TANDREL_REL_LIBDIR
#define TANDREL_REL_LIBDIR "../lib/tandrel"
#endif
#ifndef TANDREL_REL_DATADIR
#define TANDREL_REL_DATADIR "../share/tandrel"
#endif

namespace tandrel {
namespace {

bool IsFolder(const std::string &path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "" when the user has no home: then there is no settings file rather than a shared one.
std::string ConfigFolder() {
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/";
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/";
    const passwd *user = ::getpwuid(::getuid());
    return user && user->pw_dir && user->pw_dir[0] == '/' ? std::string(user->pw_dir) + "/.config/"
                                                          : "";
}

} // namespace

std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string exe(path, std::size_t(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

AppFolders FindAppFolders(const std::string &exeFolder) {
    AppFolders f;
    f.exe = exeFolder.empty() || exeFolder.back() == '/' ? exeFolder : exeFolder + "/";
    f.libraries = f.exe;
    f.librariesInstalled = f.exe + TANDREL_REL_LIBDIR + "/";
    f.portable = IsFolder(f.exe + "TDLanguage");
    f.languages = f.portable ? f.exe + "TDLanguage/" : f.exe + TANDREL_REL_DATADIR + "/TDLanguage/";
    f.settingsFile = f.portable && ::access(f.exe.c_str(), W_OK) == 0
                         ? f.exe + "Tandrel.ini"
                         : (ConfigFolder().empty() ? "" : ConfigFolder() + "tandrel/Tandrel.ini");
    return f;
}

const AppFolders &ProgramFolders() {
    static const AppFolders folders = FindAppFolders(ExecutableFolder());
    return folders;
}

} // namespace tandrel
