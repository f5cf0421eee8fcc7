#include "audio/Ffmpeg.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <initializer_list>

namespace tandrel {
namespace {

#define TANDREL_SONAME(lib, major) "lib" lib ".so." AV_STRINGIFY(major)

bool Open() {
    // Each after the ones it needs; global, so that one look-up finds every function.
    for (const char *lib : {TANDREL_SONAME("avutil", LIBAVUTIL_VERSION_MAJOR),
                            TANDREL_SONAME("swresample", LIBSWRESAMPLE_VERSION_MAJOR),
                            TANDREL_SONAME("avcodec", LIBAVCODEC_VERSION_MAJOR),
                            TANDREL_SONAME("avformat", LIBAVFORMAT_VERSION_MAJOR)}) {
        if (!::dlopen(lib, RTLD_NOW | RTLD_GLOBAL))
            return false;
    }
    return true;
}

} // namespace

bool LoadFfmpeg() {
    static const bool loaded = Open();
    return loaded;
}

void *FfmpegFunction(const char *name) {
    void *function = LoadFfmpeg() ? ::dlsym(RTLD_DEFAULT, name) : nullptr;
    if (!function) {
        std::fprintf(stderr, "FFmpeg's %s is missing\n", name);
        std::abort();
    }
    return function;
}

} // namespace tandrel
