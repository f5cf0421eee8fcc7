#include "audio/Decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "audio/Ffmpeg.h"

// The decoder's output side: the layout it hands out, and how decoded frames get there.
namespace tandrel {
namespace {

constexpr int kMaxChannels = 64;
constexpr int kMaxRate = 1536000;

} // namespace

// Drops the encoder delay and padding from the samples just converted, which begin at
// regionStart in the pending buffer and at sample firstSample of the decoded stream: what is
// kept is [skipStart_, discardFrom_) and [discardTo_, ...), however the two overlap, and of a
// range nothing before dropBefore_.
void Decoder::Trim(std::size_t regionStart, std::int64_t firstSample) {
    const std::int64_t end = firstSample + std::int64_t((pendSize_ - regionStart) / frameBytes_);
    std::uint8_t *base = pending_.data() + pendHead_ + regionStart;
    std::size_t kept = 0;
    auto keep = [&](std::int64_t from, std::int64_t to) {
        from = std::max(from, firstSample);
        to = std::min(to, end);
        if (from >= to)
            return;
        const std::size_t bytes = std::size_t(to - from) * frameBytes_;
        std::memmove(base + kept, base + std::size_t(from - firstSample) * frameBytes_, bytes);
        kept += bytes;
    };
    const std::int64_t from = std::max(skipStart_, dropBefore_);
    if (discardTo_ > 0 && discardFrom_ < discardTo_) {
        keep(from, discardFrom_);
        keep(std::max(from, discardTo_), end);
    } else {
        keep(from, end);
    }
    pendSize_ = regionStart + kept;
}

// Silence of the length, rate and channel count of the MP3 frame last sent, in the codec's
// sample format, converted as that frame's audio would have been; false when it cannot be.
bool Decoder::GiveSilence() {
    AVFrame *silence = av_frame_alloc();
    if (!silence)
        return false;
    silence->format = codec_->sample_fmt;
    silence->sample_rate = lastFrameRate_;
    silence->nb_samples = lastFrameSamples_;
    av_channel_layout_default(&silence->ch_layout, lastFrameChannels_);
    const bool ok = av_frame_get_buffer(silence, 0) >= 0 &&
                    av_samples_set_silence(silence->extended_data, 0, silence->nb_samples,
                                           lastFrameChannels_, codec_->sample_fmt) >= 0 &&
                    Convert(silence);
    av_frame_free(&silence);
    return ok;
}

// The output's layout, from the first decoded frame: lossy codecs give 16 bits, PCM and
// lossless ones their own depth (a float source 32 bits).
bool Decoder::StartOutput(const AVFrame *frame) {
    const int ch = frame->ch_layout.nb_channels;
    if (frame->sample_rate <= 0 || frame->sample_rate > kMaxRate || ch <= 0 || ch > kMaxChannels)
        return false;
    rate_ = frame->sample_rate;
    channels_ = ch;
    bits_ = 16;
    outFormat_ = AV_SAMPLE_FMT_S16;
    const int raw = codec_->bits_per_raw_sample;
    switch (lossless_ ? av_get_packed_sample_fmt(AVSampleFormat(frame->format))
                      : AV_SAMPLE_FMT_S16) {
    case AV_SAMPLE_FMT_U8:
        bits_ = 8;
        outFormat_ = AV_SAMPLE_FMT_U8;
        break;
    case AV_SAMPLE_FMT_S16:
        break;
    case AV_SAMPLE_FMT_S32:
        if (raw > 0 && raw <= 16)
            break;
        bits_ = raw > 0 && raw <= 24 ? 24 : 32;
        outFormat_ = AV_SAMPLE_FMT_S32;
        break;
    default: // float, double and 64-bit sources
        bits_ = 32;
        outFormat_ = AV_SAMPLE_FMT_S32;
        break;
    }
    frameBytes_ = std::size_t(ch) * std::size_t(bits_ / 8);
    swrBytes_ = std::size_t(ch) * std::size_t(av_get_bytes_per_sample(AVSampleFormat(outFormat_)));
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
        outMask_ = frame->ch_layout.u.mask;
    return true;
}

// 24-bit output comes from the resampler as 32-bit samples whose low byte is zero: their
// upper three bytes are kept, in place.
void Decoder::PackTo24(std::size_t regionStart, std::size_t samples) {
    if (bits_ != 24)
        return;
    std::uint8_t *p = pending_.data() + pendHead_ + regionStart;
    const std::size_t count = samples * std::size_t(channels_);
    for (std::size_t i = 0; i < count; ++i) {
        p[3 * i] = p[4 * i + 1];
        p[3 * i + 1] = p[4 * i + 2];
        p[3 * i + 2] = p[4 * i + 3];
    }
}

// The decoder's start skip (an Opus pre-skip), left to us so that the end is ours to trim too,
// and the samples before time 0 of a stream cut out of a longer one: dropped only before
// anything has been kept, moving the stated end along with them.
void Decoder::TakeManualSkip(const AVFrame *frame) {
    if (position_ + pendSize_ > 0)
        return;
    std::int64_t skip = 0;
    const AVFrameSideData *side = av_frame_get_side_data(frame, AV_FRAME_DATA_SKIP_SAMPLES);
    if (side && side->size >= 4)
        skip = std::int64_t(AV_RL32(side->data));
    if (frame->pts != AV_NOPTS_VALUE && frame->pts < 0)
        skip =
            std::max(skip, av_rescale_q(-frame->pts, codec_->pkt_timebase, AVRational{1, rate_}));
    if (skip <= 0 || nextPts_ + skip <= skipStart_)
        return;
    skipStart_ = nextPts_ + skip;
    if (capSamples_ >= 0)
        discardFrom_ = skipStart_ + capSamples_;
}

namespace {

// Whether any of n float samples lies beyond full scale or is not a number: read only, eight
// at a time without branches, so that the compiler gives it vector instructions.
template <typename T> bool AnyBeyondFullScale(const T *p, std::size_t n) {
    unsigned beyond = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8)
        for (std::size_t k = 0; k < 8; ++k)
            beyond |= unsigned(!((p[i + k] >= T(-1)) & (p[i + k] <= T(1))));
    for (; i < n; ++i)
        beyond |= unsigned(!(p[i] >= T(-1) && p[i] <= T(1)));
    return beyond != 0;
}

// Brings the planes' samples to full scale, where any lies beyond it (not a number: to 0).
template <typename T> bool ClampPlanes(AVFrame *frame, int planes, std::size_t count) {
    bool beyond = false;
    for (int k = 0; k < planes && !beyond; ++k)
        beyond = AnyBeyondFullScale(reinterpret_cast<const T *>(frame->extended_data[k]), count);
    if (!beyond)
        return true;
    if (av_frame_make_writable(frame) < 0)
        return false;
    for (int k = 0; k < planes; ++k) {
        T *p = reinterpret_cast<T *>(frame->extended_data[k]);
        for (std::size_t i = 0; i < count; ++i)
            p[i] = p[i] >= -1 ? (p[i] <= 1 ? p[i] : 1) : (p[i] < -1 ? -1 : 0);
    }
    return true;
}

} // namespace

// Float samples beyond full scale (or not numbers) are brought to it before conversion, whose
// rounding would overflow on them. Decoded audio seldom has any: it is only looked at then.
bool Decoder::ClampFloats(AVFrame *frame) {
    const auto format = AVSampleFormat(frame->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    if (packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL)
        return true;
    const bool planar = av_sample_fmt_is_planar(format);
    const int planes = planar ? frame->ch_layout.nb_channels : 1;
    const std::size_t count =
        std::size_t(frame->nb_samples) * std::size_t(planar ? 1 : frame->ch_layout.nb_channels);
    return packed == AV_SAMPLE_FMT_FLT ? ClampPlanes<float>(frame, planes, count)
                                       : ClampPlanes<double>(frame, planes, count);
}

bool Decoder::ConfigureResampler(const AVFrame *frame) {
    swr_free(&swr_);
    AVChannelLayout in{}, out{};
    if (frame->ch_layout.order != AV_CHANNEL_ORDER_UNSPEC &&
        av_channel_layout_check(&frame->ch_layout))
        av_channel_layout_copy(&in, &frame->ch_layout);
    else
        av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    if (outMask_ && std::popcount(outMask_) == channels_)
        av_channel_layout_from_mask(&out, outMask_);
    else
        av_channel_layout_default(&out, channels_);
    int r = swr_alloc_set_opts2(&swr_, &out, static_cast<AVSampleFormat>(outFormat_), rate_, &in,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (r < 0 || !swr_ || swr_init(swr_) < 0) {
        swr_free(&swr_);
        return false;
    }
    swrInFormat_ = frame->format;
    swrInRate_ = frame->sample_rate;
    swrInChannels_ = frame->ch_layout.nb_channels;
    return true;
}

void Decoder::FlushResampler() {
    if (!swr_)
        return;
    int room = swr_get_out_samples(swr_, 0);
    if (room <= 0)
        return;
    ReserveOutput(static_cast<std::size_t>(room));
    std::uint8_t *out = pending_.data() + pendHead_ + pendSize_;
    int got = swr_convert(swr_, &out, room, nullptr, 0);
    if (got > 0) {
        PackTo24(pendSize_, std::size_t(got));
        pendSize_ += static_cast<std::size_t>(got) * frameBytes_;
    }
}

} // namespace tandrel
