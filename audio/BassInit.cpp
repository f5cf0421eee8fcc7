#include "audio/Bass.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace tandrel::detail {
void FreeAllStreams();
}

namespace {
bool g_ready = false;
bool g_failForTesting = false;

bool FailRequested() {
    if (g_failForTesting)
        return true;
    const char *env = std::getenv("TANDREL_FAIL_AUDIO_INIT");
    return env && std::strcmp(env, "1") == 0;
}
} // namespace

BOOL BASS_Init(int, DWORD, DWORD, void *, void *) {
    // Only the decoders matter: without an MP3 decoder the layer is unusable.
    if (FailRequested() || !avcodec_find_decoder(AV_CODEC_ID_MP3)) {
        g_ready = false;
        return 0;
    }
    av_log_set_level(AV_LOG_QUIET);
    g_ready = true;
    return 1;
}

BOOL BASS_Free() {
    tandrel::detail::FreeAllStreams();
    g_ready = false;
    return 1;
}

namespace tandrel {
bool BassReady() {
    return g_ready;
}
void SetBassInitFailureForTesting(bool fail) {
    g_failForTesting = fail;
}
} // namespace tandrel
