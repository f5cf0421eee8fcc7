#include "encoders/EncoderLibrary.h"

#include "common/AppFolders.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

namespace tandrel {

std::string ExecutableFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    std::string exe(path, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

void *LoadEncoderLibrary(const std::string &folder, const char *name) {
    void *handle = nullptr;
    if (!folder.empty()) {
        std::string path = folder;
        if (path.back() != '/')
            path += '/';
        handle = dlopen((path + name).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!handle)
        handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    return handle;
}

void *LoadProgramEncoderLibrary(const char *name) {
    const AppFolders &folders = ProgramFolders();
    for (const std::string &folder : {folders.libraries, folders.librariesInstalled})
        if (void *handle = dlopen((folder + name).c_str(), RTLD_NOW | RTLD_LOCAL))
            return handle;
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

} // namespace tandrel
