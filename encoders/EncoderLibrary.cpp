#include "encoders/EncoderLibrary.h"

#include "common/AppFolders.h"

#include <dlfcn.h>

namespace tandrel {

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
