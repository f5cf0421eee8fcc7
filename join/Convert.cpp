#include "join/Convert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tandrel {
namespace {

constexpr std::size_t kOutBufferBytes = 64 * 1024;
constexpr std::size_t kMaxFrameBytes = 64 * 1024;
// Above this the accumulator could no longer count down by 1.0 in single precision.
constexpr double kMaxRateRatio = 8388608.0;

// Every step of the accumulator is rounded to single precision, also where the compiler
// would otherwise keep more (x87).
inline float RoundedSum(float a, float b) {
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
    volatile float r = a + b;
    return r;
#else
    return a + b;
#endif
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

PcmConverter::PcmConverter() : outBuf_(kOutBufferBytes) {}

bool PcmConverter::PrepareConversion(const PcmFormat &in, const PcmFormat &out) {
    if (CheckConversion(in, out) != ConversionCheck::Ok)
        return false;
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

bool PcmConverter::Emit(const std::uint8_t *inFrame, PcmSink &sink) {
    std::uint8_t frame[8];
    BuildFrame(inFrame, frame);
    acc_ = RoundedSum(acc_, ratio_);
    std::size_t copies = 1;
    while (acc_ >= 1.0f) {
        ++copies;
        acc_ = RoundedSum(acc_, -1.0f);
    }
    while (copies > 0) {
        if (outBuf_.size() - outUsed_ < outFrame_ && !FlushOut(sink))
            return false;
        std::uint8_t *dst = outBuf_.data() + outUsed_;
        const std::size_t room = (outBuf_.size() - outUsed_) / outFrame_;
        const std::size_t now = std::min(room, copies);
        for (std::size_t i = 0; i < now; ++i, dst += outFrame_)
            std::memcpy(dst, frame, outFrame_);
        outUsed_ += now * outFrame_;
        copies -= now;
    }
    return true;
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
        if (same_ ? !sink.Write(pending_.data(), inFrame_) : !Emit(pending_.data(), sink))
            return false;
    }
    const std::size_t whole = count / inFrame_ * inFrame_;
    pendingBytes_ = count - whole;
    std::memcpy(pending_.data(), bytes + whole, pendingBytes_);
    if (same_)
        return whole == 0 || sink.Write(bytes, whole);
    for (std::size_t at = 0; at < whole; at += inFrame_) {
        if (!Emit(bytes + at, sink))
            return false;
    }
    return FlushOut(sink);
}

} // namespace tandrel
