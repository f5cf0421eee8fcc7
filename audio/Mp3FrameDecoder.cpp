#include "audio/Mp3FrameDecoder.h"

#include <algorithm>
#include <mpg123.h>
#include <mutex>

namespace tandrel {
namespace {

constexpr int kMaxFrameSamples = 1152;

mpg123_handle *Handle(void *p) {
    return static_cast<mpg123_handle *>(p);
}

// Emphasis only tells a player what to undo after decoding: the copy decoded states none, so
// that a frame stating the reserved value decodes as its neighbours do.
void ClearEmphasis(std::uint8_t *frame) {
    frame[3] = std::uint8_t(frame[3] & ~3);
}

} // namespace

Mp3FrameDecoder::~Mp3FrameDecoder() {
    Close();
}

void Mp3FrameDecoder::Close() {
    if (handle_)
        mpg123_delete(Handle(handle_));
    handle_ = nullptr;
}

bool Mp3FrameDecoder::Open(int channels, int frameSamples) {
    static std::once_flag initialized;
    std::call_once(initialized, [] { mpg123_init(); });
    Close();
    channels_ = channels;
    frameSamples_ = std::min(frameSamples, kMaxFrameSamples);
    primed_ = ended_ = false;
    int err = 0;
    mpg123_handle *h = mpg123_new(nullptr, &err);
    if (!h)
        return false;
    handle_ = h;
    // Every frame as it is: an Info frame is a silent frame, no gapless trimming, no resampling,
    // floats at the stream's own rate and channels.
    mpg123_param(h, MPG123_FLAGS,
                 MPG123_QUIET | MPG123_IGNORE_INFOFRAME | MPG123_FORCE_FLOAT |
                     MPG123_NO_FRANKENSTEIN | MPG123_SKIP_ID3V2,
                 0.0);
    mpg123_format_none(h);
    const long *rates = nullptr;
    std::size_t count = 0;
    mpg123_rates(&rates, &count);
    for (std::size_t i = 0; i < count; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    return mpg123_open_feed(h) == MPG123_OK;
}

// The library syncs on a stream's first frame only once it sees the next one: it is given two
// silent frames of the stream's own header first, which leave its filters as a fresh
// decoder's.
void Mp3FrameDecoder::Prime(const std::uint8_t *frame, std::size_t bytes) {
    primed_ = true;
    const std::size_t count = 2;
    input_.assign(bytes * count, 0);
    for (std::size_t k = 0; k < count; ++k) {
        std::copy(frame, frame + 4, input_.begin() + std::ptrdiff_t(k * bytes));
        ClearEmphasis(input_.data() + k * bytes);
    }
    Feed([](const float *, std::size_t, std::size_t) {});
}

// Gives input_ to the library and takes every frame it decodes of it: take(samples, channels,
// count per channel).
template <typename Take> void Mp3FrameDecoder::Feed(Take take) {
    mpg123_handle *h = Handle(handle_);
    if (mpg123_feed(h, input_.data(), input_.size()) != MPG123_OK) {
        ended_ = true;
        return;
    }
    for (;;) {
        off_t number = 0;
        unsigned char *audio = nullptr;
        std::size_t bytes = 0;
        const int r = mpg123_decode_frame(h, &number, &audio, &bytes);
        if (r == MPG123_NEW_FORMAT)
            continue;
        // A frame of another stream ends the library's (it takes no new format mid-stream): the
        // next frame starts a fresh one.
        ended_ = ended_ || r == MPG123_DONE || r == MPG123_ERR;
        if (r != MPG123_OK)
            return;
        long rate = 0;
        int channels = 0, encoding = 0;
        if (mpg123_getformat(h, &rate, &channels, &encoding) != MPG123_OK || channels < 1 ||
            encoding != MPG123_ENC_FLOAT_32)
            return;
        take(reinterpret_cast<const float *>(audio), std::size_t(channels),
             bytes / sizeof(float) / std::size_t(channels));
    }
}

void Mp3FrameDecoder::Decode(const std::uint8_t *data, std::size_t bytes, std::vector<float> &out) {
    const std::size_t at = out.size();
    const std::size_t n = std::size_t(frameSamples_), outChannels = std::size_t(channels_);
    out.resize(at + n * outChannels, 0.0f);
    if (ended_)
        Open(channels_, frameSamples_);
    if (!handle_ || bytes < 4)
        return;
    if (!primed_)
        Prime(data, bytes);
    input_.assign(data, data + bytes);
    ClearEmphasis(input_.data());
    std::size_t filled = 0;
    Feed([&](const float *pcm, std::size_t channels, std::size_t got) {
        const std::size_t take = std::min(got, n - filled);
        for (std::size_t i = 0; i < take; ++i) {
            float *o = &out[at + (filled + i) * outChannels];
            o[0] = pcm[i * channels];
            if (outChannels == 2)
                o[1] = pcm[i * channels + (channels == 2 ? 1 : 0)];
        }
        filled += take;
    });
}

} // namespace tandrel
