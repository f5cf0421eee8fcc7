#include "join/Convert.h"

#include <algorithm>
#include <cstring>

// Frames converted by the repeat rule in loops made for each pair of formats: the widths and
// channel counts are constants there, so a frame costs a few instructions.
namespace tandrel {
namespace {

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

// Plain PCM of one or two channels, never fewer bits or channels out than in: the pairs
// CheckConversion lets through where the formats differ.
bool HasRepeatRun(const PcmFormat &in, const PcmFormat &out) {
    return IsPcmWidth(in.bits) && IsPcmWidth(out.bits) && in.bits <= out.bits && in.channels >= 1 &&
           in.channels <= out.channels && out.channels <= 2;
}

template <int W> std::int32_t LoadAs(const std::uint8_t *p) {
    std::uint32_t u = 0;
    for (int i = 0; i < W; ++i)
        u |= std::uint32_t(p[i]) << (8 * i);
    constexpr int unused = 32 - 8 * W;
    return std::int32_t(u << unused) >> unused;
}

template <int W> void StoreAs(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < W; ++i)
        p[i] = std::uint8_t(v >> (8 * i));
}

template <int InW, int OutW> std::uint32_t Widen(const std::uint8_t *p) {
    if constexpr (OutW == 1)
        return p[0];
    else if constexpr (InW == 1)
        return std::uint32_t(std::int32_t(Sample8To16(p[0]))) << (8 * OutW - 16);
    else
        return std::uint32_t(LoadAs<InW>(p)) << (8 * (OutW - InW));
}

template <int InW, int OutW, int InCh, int OutCh>
void BuildAs(const std::uint8_t *in, std::uint8_t *out) {
    const std::uint32_t left = Widen<InW, OutW>(in);
    StoreAs<OutW>(out, left);
    if constexpr (OutCh == 2)
        StoreAs<OutW>(out + OutW, InCh == 2 ? Widen<InW, OutW>(in + InW) : left);
}

} // namespace

struct RepeatRuns {
    // Copies of a frame after the accumulator took its step: 1 + the whole steps it made.
    static std::size_t Copies(PcmConverter &c, float ratio) {
        std::size_t copies = 1;
        if (ratio != 0.0f) {
            c.acc_ = RoundedSum(c.acc_, ratio);
            for (; c.acc_ >= 1.0f; c.acc_ = RoundedSum(c.acc_, -1.0f))
                ++copies;
        }
        return copies;
    }

    template <int InW, int OutW, int InCh, int OutCh>
    static bool Run(PcmConverter &c, const std::uint8_t *in, std::size_t frames, PcmSink &sink) {
        constexpr std::size_t inFrame = InW * InCh, outFrame = OutW * OutCh;
        const float ratio = c.ratio_;
        const std::size_t size = c.outBuf_.size();
        // The most copies one frame can give (the accumulator stays below 1 between frames).
        const std::size_t most = ratio < 64.0f ? std::size_t(ratio) + 2 : 0;
        while (frames > 0) {
            if (most == 0)
                return RunOneByOne<InW, OutW, InCh, OutCh>(c, in, frames, sink);
            if ((size - c.outUsed_) / outFrame < most && !c.FlushOut(sink))
                return false;
            const std::size_t n = std::min(frames, (size - c.outUsed_) / outFrame / most);
            std::uint8_t *dst = c.outBuf_.data() + c.outUsed_;
            for (std::size_t f = 0; f < n; ++f, in += inFrame) {
                BuildAs<InW, OutW, InCh, OutCh>(in, dst);
                const std::size_t copies = Copies(c, ratio);
                for (std::size_t k = 1; k < copies; ++k)
                    std::memcpy(dst + k * outFrame, dst, outFrame);
                dst += copies * outFrame;
            }
            c.outUsed_ = std::size_t(dst - c.outBuf_.data());
            frames -= n;
        }
        return true;
    }

    // Steep rises: the copies of a frame may fill the buffer many times over.
    template <int InW, int OutW, int InCh, int OutCh>
    static bool RunOneByOne(PcmConverter &c, const std::uint8_t *in, std::size_t frames,
                            PcmSink &sink) {
        constexpr std::size_t inFrame = InW * InCh, outFrame = OutW * OutCh;
        const std::size_t size = c.outBuf_.size();
        for (std::size_t f = 0; f < frames; ++f, in += inFrame) {
            std::uint8_t frame[outFrame];
            BuildAs<InW, OutW, InCh, OutCh>(in, frame);
            for (std::size_t copies = Copies(c, c.ratio_); copies > 0;) {
                if (size - c.outUsed_ < outFrame && !c.FlushOut(sink))
                    return false;
                std::uint8_t *dst = c.outBuf_.data() + c.outUsed_;
                const std::size_t now = std::min((size - c.outUsed_) / outFrame, copies);
                for (std::size_t i = 0; i < now; ++i, dst += outFrame)
                    std::memcpy(dst, frame, outFrame);
                c.outUsed_ += now * outFrame;
                copies -= now;
            }
        }
        return true;
    }

    template <int InW, int OutW, int InCh> static PcmConverter::RunFn ForChannels(int outCh) {
        if (outCh == 2)
            return &Run<InW, OutW, InCh, 2>;
        if constexpr (InCh == 1)
            return &Run<InW, OutW, 1, 1>;
        return nullptr;
    }

    template <int InW, int OutW> static PcmConverter::RunFn ForWidths(int inCh, int outCh) {
        if constexpr (OutW < InW)
            return nullptr;
        else
            return inCh == 1 ? ForChannels<InW, OutW, 1>(outCh) : ForChannels<InW, OutW, 2>(outCh);
    }

    template <int InW> static PcmConverter::RunFn ForInWidth(int outW, int inCh, int outCh) {
        switch (outW) {
        case 1:
            return ForWidths<InW, 1>(inCh, outCh);
        case 2:
            return ForWidths<InW, 2>(inCh, outCh);
        case 3:
            return ForWidths<InW, 3>(inCh, outCh);
        case 4:
            return ForWidths<InW, 4>(inCh, outCh);
        }
        return nullptr;
    }

    static PcmConverter::RunFn Pick(const PcmFormat &in, const PcmFormat &out) {
        if (!HasRepeatRun(in, out))
            return nullptr;
        const int outW = out.bits / 8;
        switch (in.bits / 8) {
        case 1:
            return ForInWidth<1>(outW, in.channels, out.channels);
        case 2:
            return ForInWidth<2>(outW, in.channels, out.channels);
        case 3:
            return ForInWidth<3>(outW, in.channels, out.channels);
        case 4:
            return ForInWidth<4>(outW, in.channels, out.channels);
        }
        return nullptr;
    }
};

PcmConverter::RunFn PcmConverter::PickRun(const PcmFormat &in, const PcmFormat &out) {
    return RepeatRuns::Pick(in, out);
}

} // namespace tandrel
