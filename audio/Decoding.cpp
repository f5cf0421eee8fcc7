#include "audio/Decoding.h"

#include <cstdlib>
#include <cstring>

#include "audio/Ffmpeg.h"

namespace tandrel {
namespace {

enum class State { Off, OnFirstUse, Ready };
State g_state = State::Off;
bool g_failForTesting = false;

bool FailRequested() {
    if (g_failForTesting)
        return true;
    const char *env = std::getenv("TANDREL_FAIL_AUDIO_INIT");
    return env && std::strcmp(env, "1") == 0;
}

// Without an MP3 decoder the program cannot do what it is for.
bool Check() {
    if (FailRequested() || !LoadFfmpeg() || !avcodec_find_decoder(AV_CODEC_ID_MP3))
        return false;
    av_log_set_level(AV_LOG_QUIET);
    return true;
}

} // namespace

bool InitDecoding() {
    g_state = Check() ? State::Ready : State::Off;
    return g_state == State::Ready;
}

void InitDecodingOnFirstUse() {
    g_state = State::OnFirstUse;
}

void EndDecoding() {
    g_state = State::Off;
}

bool DecodingReady() {
    if (g_state == State::OnFirstUse)
        g_state = Check() ? State::Ready : State::Off;
    return g_state == State::Ready;
}

void SetDecodingInitFailureForTesting(bool fail) {
    g_failForTesting = fail;
}

} // namespace tandrel
