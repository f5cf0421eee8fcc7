#include "join/Convert.h"

#include "common/Messages.h"
#include "lang/MessageTexts.h"

#include "audio/Ffmpeg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tandrel {
namespace {

constexpr std::size_t kOutBufferBytes = 64 * 1024;
constexpr std::size_t kMaxFrameBytes = 64 * 1024;
// Above this the accumulator could no longer count down by 1.0 in single precision.
constexpr double kMaxRateRatio = 8388608.0;
// Frames gathered for one call of the resampler, at most.
constexpr std::size_t kHqFrames = 4096;
// About the most output frames one call of the resampler makes: a steep rise takes fewer
// input frames a call, so that neither our buffers nor soxr's grow with the ratio.
constexpr std::uint64_t kHqOutFrames = 16384;
// Output frames taken from the resampler a call: room for its uneven output around that.
constexpr std::size_t kHqOutRoom = 2 * kHqOutFrames;
// soxr's precision in bits: its stop-band lies well below what 24 bits can show.
constexpr double kHqPrecision = 28.0;

// A resampler from rate `from` to rate `to` for interleaved doubles of `channels`
// channels: soxr, or swr's own engine with a long filter where soxr was not built in.
SwrContext *MakeResampler(int channels, int from, int to) {
    if (!LoadFfmpeg())
        return nullptr;
    AVChannelLayout layout;
    av_channel_layout_default(&layout, channels);
    for (const bool soxr : {true, false}) {
        SwrContext *s = nullptr;
        if (swr_alloc_set_opts2(&s, &layout, AV_SAMPLE_FMT_DBL, to, &layout, AV_SAMPLE_FMT_DBL,
                                from, 0, nullptr) < 0)
            break;
        if (soxr) {
            av_opt_set(s, "resampler", "soxr", 0);
            av_opt_set_double(s, "precision", kHqPrecision, 0);
        } else {
            av_opt_set(s, "resampler", "swr", 0);
            av_opt_set_int(s, "filter_size", 256, 0);
            av_opt_set_int(s, "phase_shift", 14, 0);
            av_opt_set_double(s, "cutoff", 0.95, 0);
        }
        if (swr_init(s) >= 0) {
            av_channel_layout_uninit(&layout);
            return s;
        }
        swr_free(&s);
    }
    av_channel_layout_uninit(&layout);
    return nullptr;
}

// Input frames for one call of the resampler from rate `from` to rate `to`.
std::size_t HqBlockFrames(int from, int to) {
    const std::uint64_t frames = kHqOutFrames * std::uint64_t(from) / std::uint64_t(to);
    return std::size_t(std::clamp<std::uint64_t>(frames, 1, kHqFrames));
}

std::int32_t LoadSigned(const std::uint8_t *p, int bytes) {
    std::uint32_t u = 0;
    for (int i = 0; i < bytes; ++i)
        u |= std::uint32_t(p[i]) << (8 * i);
    const int unused = 32 - 8 * bytes;
    return std::int32_t(u << unused) >> unused;
}

void StoreLE(std::uint8_t *p, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

} // namespace

bool IsPcmWidth(int bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::size_t FrameBytes(const PcmFormat &format) {
    if (format.channels < 1 || format.bits < 1)
        return 0;
    return std::size_t(format.channels) * std::size_t((format.bits + 7) / 8);
}

std::int16_t Sample8To16(std::uint8_t s) {
    return std::int16_t((int(s) - 128) * 32767 / 128);
}

std::size_t ConvertSamplesTo16(const std::uint8_t *in, std::size_t bytes, int bits,
                               std::int16_t *out) {
    if (!IsPcmWidth(bits))
        return 0;
    const std::size_t width = std::size_t(bits / 8);
    const std::size_t n = bytes / width;
    for (std::size_t i = 0; i < n; ++i, in += width) {
        switch (bits) {
        case 8:
            out[i] = Sample8To16(in[0]);
            break;
        case 16:
            out[i] = std::int16_t(in[0] | (in[1] << 8));
            break;
        default: {
            const std::int64_t v = LoadSigned(in, int(width));
            const int shift = bits - 16;
            const std::int64_t r = (v + (std::int64_t(1) << (shift - 1))) >> shift;
            out[i] = std::int16_t(std::min<std::int64_t>(r, 32767));
        }
        }
    }
    return n;
}

ConversionCheck CheckConversion(const PcmFormat &in, const PcmFormat &out) {
    const std::size_t frame = FrameBytes(in);
    if (in == out)
        return frame == 0 || frame > kMaxFrameBytes ? ConversionCheck::UnsupportedBits
                                                    : ConversionCheck::Ok;
    if (in.channels > 2 || out.channels > 2)
        return ConversionCheck::TooManyChannels;
    if (in.channels < 1 || out.channels < in.channels)
        return ConversionCheck::FewerChannels;
    if (!IsPcmWidth(in.bits) || !IsPcmWidth(out.bits) || out.bits < in.bits)
        return ConversionCheck::UnsupportedBits;
    if (in.sampleRate > 0) {
        if (out.sampleRate < in.sampleRate)
            return ConversionCheck::UnsupportedRate;
        const double ratio = (double(out.sampleRate) - in.sampleRate) / in.sampleRate;
        if (!(ratio < kMaxRateRatio))
            return ConversionCheck::UnsupportedRate;
    }
    return ConversionCheck::Ok;
}

std::uint64_t HqFrameCount(std::uint64_t frames, int from, int to) {
    if (from <= 0 || to <= 0)
        return frames;
    // Split so that nothing overflows: frames = q * from + r with r < from.
    const std::uint64_t q = frames / std::uint64_t(from);
    const std::uint64_t r = frames % std::uint64_t(from);
    return q * std::uint64_t(to) +
           (2 * r * std::uint64_t(to) + std::uint64_t(from)) / (2 * std::uint64_t(from));
}

PcmConverter::PcmConverter() : outBuf_(kOutBufferBytes) {}

PcmConverter::~PcmConverter() {
    FreeResampler();
}

void PcmConverter::FreeResampler() {
    if (swr_)
        swr_free(&swr_);
    swr_ = nullptr;
}

bool PcmConverter::PrepareConversion(const PcmFormat &in, const PcmFormat &out,
                                     Resampling resampling) {
    FreeResampler();
    if (CheckConversion(in, out) != ConversionCheck::Ok)
        return false;
    if (resampling == Resampling::Hq && in.sampleRate > 0 && in.sampleRate != out.sampleRate) {
        swr_ = MakeResampler(out.channels, in.sampleRate, out.sampleRate);
        if (!swr_)
            return false;
        hqBlock_ = HqBlockFrames(in.sampleRate, out.sampleRate);
        hqIn_.resize(hqBlock_ * std::size_t(out.channels));
        hqOut_.resize(kHqOutRoom * std::size_t(out.channels));
    }
    hqQueued_ = 0;
    hqFramesIn_ = 0;
    hqFramesOut_ = 0;
    in_ = in;
    out_ = out;
    same_ = in == out;
    // An input of unknown rate (0) is taken frame for frame: nothing to repeat by.
    ratio_ = in.sampleRate > 0
                 ? float((double(out.sampleRate) - double(in.sampleRate)) / in.sampleRate)
                 : 0.0f;
    acc_ = 0.0f;
    inFrame_ = FrameBytes(in);
    outFrame_ = FrameBytes(out);
    pending_.resize(inFrame_);
    pendingBytes_ = 0;
    outUsed_ = 0;
    run_ = swr_ || same_ ? nullptr : PickRun(in, out);
    return true;
}

std::size_t PcmConverter::BuildFrame(const std::uint8_t *in, std::uint8_t *out) const {
    const int inWidth = in_.bits / 8;
    const int outWidth = out_.bits / 8;
    std::uint32_t v[2];
    for (int c = 0; c < in_.channels; ++c) {
        const std::uint8_t *p = in + c * inWidth;
        if (out_.bits == 8)
            v[c] = p[0];
        else if (in_.bits == 8)
            v[c] = std::uint32_t(std::int32_t(Sample8To16(p[0]))) << (out_.bits - 16);
        else
            v[c] = std::uint32_t(LoadSigned(p, inWidth)) << (out_.bits - in_.bits);
    }
    if (in_.channels == 1)
        v[1] = v[0];
    for (int c = 0; c < out_.channels; ++c)
        StoreLE(out + c * outWidth, v[c], outWidth);
    return outFrame_;
}

bool PcmConverter::FlushOut(PcmSink &sink) {
    if (outUsed_ == 0)
        return true;
    const std::size_t n = outUsed_;
    outUsed_ = 0;
    return sink.Write(outBuf_.data(), n);
}

bool PcmConverter::Take(const std::uint8_t *inFrame, PcmSink &sink) {
    if (!swr_)
        return run_(*this, inFrame, 1, sink);
    std::uint8_t frame[8];
    BuildFrame(inFrame, frame);
    const int width = out_.bits / 8;
    double *dst = hqIn_.data() + hqQueued_ * std::size_t(out_.channels);
    for (int c = 0; c < out_.channels; ++c) {
        const std::uint8_t *p = frame + c * width;
        dst[c] = out_.bits == 8 ? double(int(p[0]) - 128) : double(LoadSigned(p, width));
    }
    ++hqFramesIn_;
    return ++hqQueued_ < hqBlock_ || ResampleQueued(sink);
}

bool PcmConverter::Reserve(std::size_t bytes, PcmSink &sink) {
    return outBuf_.size() - outUsed_ >= bytes || FlushOut(sink);
}

// Output of the resampler into hqOut_: frames written, or below 0 on failure. Without in, the
// input ends and what the resampler holds back comes out.
int PcmConverter::Resample(const std::uint8_t **in, int frames) {
    std::uint8_t *out[1] = {reinterpret_cast<std::uint8_t *>(hqOut_.data())};
    return swr_convert(swr_, out, int(hqOut_.size() / std::size_t(out_.channels)), in, frames);
}

// Converts the queued frames, in as many calls as the output takes: a call that fills hqOut_
// leaves the rest of the input inside the resampler for the next one.
bool PcmConverter::ResampleQueued(PcmSink &sink) {
    // No input at all would end the input: swr_convert flushes when given none.
    if (hqQueued_ == 0)
        return true;
    const std::uint8_t *in[1] = {reinterpret_cast<const std::uint8_t *>(hqIn_.data())};
    int frames = int(hqQueued_);
    hqQueued_ = 0;
    const int room = int(hqOut_.size() / std::size_t(out_.channels));
    for (int got = room; got == room; frames = 0) {
        got = Resample(in, frames);
        if (got < 0) {
            ShowMessage(MsgText(Msg::ErrorCaption), MsgText(Msg::ResamplingFailed));
            return false;
        }
        if (!EmitResampled(got, sink))
            return false;
    }
    return true;
}

// Rounds the resampler's output to the target's bits. Never more frames than the input so
// far amounts to (HqFrameCount), so the flushed tail cannot make an input longer.
bool PcmConverter::EmitResampled(int frames, PcmSink &sink) {
    const std::uint64_t due = HqFrameCount(hqFramesIn_, in_.sampleRate, out_.sampleRate);
    const std::uint64_t room = due > hqFramesOut_ ? due - hqFramesOut_ : 0;
    const std::size_t n = std::size_t(std::min<std::uint64_t>(std::uint64_t(frames), room));
    const int width = out_.bits / 8;
    const double top = std::ldexp(1.0, out_.bits - 1);
    const double *src = hqOut_.data();
    for (std::size_t f = 0; f < n; ++f) {
        if (!Reserve(outFrame_, sink))
            return false;
        std::uint8_t *dst = outBuf_.data() + outUsed_;
        for (int c = 0; c < out_.channels; ++c, ++src) {
            const double v = std::clamp(std::nearbyint(*src), -top, top - 1.0);
            const std::int64_t s = std::int64_t(v) + (out_.bits == 8 ? 128 : 0);
            StoreLE(dst + c * width, std::uint32_t(s), width);
        }
        outUsed_ += outFrame_;
    }
    hqFramesOut_ += n;
    return true;
}

// The resampler holds back the last frames of an input for its filter: they are flushed
// here. The input then comes to exactly HqFrameCount(frames in) frames, rounded to the
// nearest: flushed frames beyond that are dropped, and if the flush falls short the rest is
// made up with silence, so that every input lasts as long as it did (to within half a frame).
bool PcmConverter::FinishInput(PcmSink &sink) {
    pendingBytes_ = 0;
    if (!swr_)
        return true;
    if (!ResampleQueued(sink))
        return false;
    const std::uint64_t due = HqFrameCount(hqFramesIn_, in_.sampleRate, out_.sampleRate);
    while (hqFramesOut_ < due) {
        const int got = Resample(nullptr, 0);
        if (got <= 0)
            break;
        if (!EmitResampled(got, sink))
            return false;
    }
    std::uint8_t silence[8];
    for (int c = 0; c < out_.channels; ++c)
        StoreLE(silence + c * (out_.bits / 8), out_.bits == 8 ? 128 : 0, out_.bits / 8);
    for (; hqFramesOut_ < due; ++hqFramesOut_) {
        if (!Reserve(outFrame_, sink))
            return false;
        std::memcpy(outBuf_.data() + outUsed_, silence, outFrame_);
        outUsed_ += outFrame_;
    }
    FreeResampler();
    return FlushOut(sink);
}

bool PcmConverter::ConvertBlock(const std::uint8_t *bytes, std::size_t count, PcmSink &sink) {
    if (pendingBytes_ > 0) {
        const std::size_t take = std::min(count, inFrame_ - pendingBytes_);
        std::memcpy(pending_.data() + pendingBytes_, bytes, take);
        pendingBytes_ += take;
        bytes += take;
        count -= take;
        if (pendingBytes_ < inFrame_)
            return true;
        pendingBytes_ = 0;
        if (same_ ? !sink.Write(pending_.data(), inFrame_) : !Take(pending_.data(), sink))
            return false;
    }
    const std::size_t whole = count / inFrame_ * inFrame_;
    pendingBytes_ = count - whole;
    std::memcpy(pending_.data(), bytes + whole, pendingBytes_);
    if (same_)
        return whole == 0 || sink.Write(bytes, whole);
    if (!swr_)
        return run_(*this, bytes, whole / inFrame_, sink) && FlushOut(sink);
    for (std::size_t at = 0; at < whole; at += inFrame_) {
        if (!Take(bytes + at, sink))
            return false;
    }
    return ResampleQueued(sink) && FlushOut(sink);
}

} // namespace tandrel
