#include "audio/Mp3FrameDecoder.h"

#include <algorithm>
#include <cstdarg>
#include <lame/lame.h>
#include <mutex>

namespace tandrel {
namespace {

constexpr int kMaxFrameSamples = 1152;

void Silent(const char *, va_list) {}

hip_t Hip(void *p) {
    return static_cast<hip_t>(p);
}

// The library decodes through one buffer of its own for the whole process, and a new decoder
// sets up tables shared by all of them: one call at a time.
std::mutex g_decoding;

int DecodeCall(void *hip, unsigned char *in, std::size_t len, short *left, short *right) {
    const std::lock_guard<std::mutex> lock(g_decoding);
    return hip_decode1(Hip(hip), in, len, left, right);
}

// Emphasis only tells a player what to undo after decoding; the library refuses a frame that
// states the reserved value, so the copy it decodes states none.
void ClearEmphasis(std::uint8_t *frame) {
    frame[3] = std::uint8_t(frame[3] & ~3);
}

} // namespace

Mp3FrameDecoder::~Mp3FrameDecoder() {
    Close();
}

void Mp3FrameDecoder::Close() {
    if (hip_) {
        const std::lock_guard<std::mutex> lock(g_decoding);
        hip_decode_exit(Hip(hip_));
    }
    hip_ = nullptr;
}

bool Mp3FrameDecoder::Open(int channels, int frameSamples) {
    Close();
    channels_ = channels;
    frameSamples_ = std::min(frameSamples, kMaxFrameSamples);
    primed_ = false;
    {
        const std::lock_guard<std::mutex> lock(g_decoding);
        hip_ = hip_decode_init();
    }
    if (!hip_)
        return false;
    hip_set_errorf(Hip(hip_), Silent);
    hip_set_debugf(Hip(hip_), Silent);
    hip_set_msgf(Hip(hip_), Silent);
    return true;
}

// The library treats a stream's first bytes apart (it looks for a VBR header in them, only
// once it holds enough of them, and decodes the first frame one call late): it is given silent
// frames of the stream's own header first, which leave its filters as a fresh decoder's.
void Mp3FrameDecoder::Prime(const std::uint8_t *frame, std::size_t bytes) {
    primed_ = true;
    if (bytes < 4)
        return;
    const std::size_t count = 512 / bytes + 1;
    input_.assign(bytes * count, 0);
    for (std::size_t k = 0; k < count; ++k) {
        std::copy(frame, frame + 4, input_.begin() + std::ptrdiff_t(k * bytes));
        ClearEmphasis(input_.data() + k * bytes);
    }
    Feed(count + 4, [](const short *, const short *, std::size_t) {});
}

// Gives input_ whole to the library and takes what it holds of it on calls without input:
// take(left, right, count) for each piece, until a call after the first gives none.
template <typename Take> void Mp3FrameDecoder::Feed(std::size_t calls, Take take) {
    short left[kMaxFrameSamples], right[kMaxFrameSamples];
    unsigned char *in = input_.data();
    std::size_t len = input_.size();
    for (std::size_t call = 0; call < calls; ++call) {
        const int got = DecodeCall(hip_, in, len, left, right);
        in = nullptr;
        len = 0;
        if (got < 0 || (got == 0 && call > 0))
            break;
        take(left, right, std::size_t(got));
    }
}

void Mp3FrameDecoder::Decode(const std::uint8_t *data, std::size_t bytes, std::vector<float> &out) {
    const std::size_t at = out.size();
    const std::size_t n = std::size_t(frameSamples_);
    out.resize(at + n * std::size_t(channels_), 0.0f);
    if (!hip_ || bytes < 4)
        return;
    if (!primed_)
        Prime(data, bytes);
    const bool monoFrame = (data[3] >> 6) == 3;
    input_.assign(data, data + bytes);
    ClearEmphasis(input_.data());
    std::size_t filled = 0;
    Feed(4, [&](const short *left, const short *right, std::size_t got) {
        const std::size_t take = std::min(got, n - filled);
        for (std::size_t i = 0; i < take; ++i) {
            float *o = &out[at + (filled + i) * std::size_t(channels_)];
            o[0] = left[i] / 32768.0f;
            if (channels_ == 2)
                o[1] = (monoFrame ? left[i] : right[i]) / 32768.0f;
        }
        filled += take;
    });
}

} // namespace tandrel
