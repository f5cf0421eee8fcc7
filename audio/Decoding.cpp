#include "audio/Decoding.h"

#include <cstdlib>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

namespace tandrel {
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

bool InitDecoding() {
    // Without an MP3 decoder the program cannot do what it is for.
    if (FailRequested() || !avcodec_find_decoder(AV_CODEC_ID_MP3)) {
        g_ready = false;
        return false;
    }
    av_log_set_level(AV_LOG_QUIET);
    g_ready = true;
    return true;
}

void EndDecoding() {
    g_ready = false;
}

bool DecodingReady() {
    return g_ready;
}

void SetDecodingInitFailureForTesting(bool fail) {
    g_failForTesting = fail;
}

} // namespace tandrel
