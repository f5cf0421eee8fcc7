#pragma once

#include "join/PcmTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct SwrContext;

namespace tandrel {

// How an input of a lower rate is brought to the target rate. Repeat: whole frames are
// repeated (the window's way). Hq: band-limited conversion by libswresample's soxr engine.
enum class Resampling { Repeat, Hq };

// Whether samples of this many bits are plain PCM the conversion knows: 8, 16, 24 or 32.
bool IsPcmWidth(int bits);

// An unsigned 8-bit sample as a signed 16-bit one: (s - 128) * 32767 / 128, truncated.
std::int16_t Sample8To16(std::uint8_t s);

// Signed 16-bit samples from whole samples of the given width (8-bit unsigned by the rule
// above; 24- and 32-bit signed rounded to the nearest 16-bit value). Trailing bytes of an
// incomplete sample are ignored. Returns the number of samples written to out.
std::size_t ConvertSamplesTo16(const std::uint8_t *in, std::size_t bytes, int bits,
                               std::int16_t *out);

enum class ConversionCheck {
    Ok,
    TooManyChannels, // more than two channels, and the formats differ
    UnsupportedBits, // not 8, 16, 24 or 32 bits, or fewer bits wanted than given
    UnsupportedRate, // a lower target rate, or a rate that cannot be repeated up
    FewerChannels,   // two channels into one
};
// Whether PCM in format `in` can be brought to `out` (always upward: rate, channels, bits).
ConversionCheck CheckConversion(const PcmFormat &in, const PcmFormat &out);

// Output frames of an input of `frames` frames at rate `from` converted by Resampling::Hq
// to rate `to`: frames * to / from, rounded to the nearest (halves up).
std::uint64_t HqFrameCount(std::uint64_t frames, int from, int to);

// Brings the PCM of one input after the other to the target format. By default rates are
// raised by repeating whole frames, counted with a single-precision accumulator; with
// Resampling::Hq an input of another known rate goes through libswresample's soxr engine.
// Bits and channels are converted the same way in both.
class PcmConverter {
public:
    PcmConverter();
    ~PcmConverter();
    PcmConverter(const PcmConverter &) = delete;
    PcmConverter &operator=(const PcmConverter &) = delete;
    // Starts a new input. False (and nothing set up) when CheckConversion refuses, or when
    // the resampler could not be set up.
    bool PrepareConversion(const PcmFormat &in, const PcmFormat &out,
                           Resampling resampling = Resampling::Repeat);
    // Converts count bytes and hands the result to sink. A frame split by the end of the
    // block is completed by the next block. False when the sink failed.
    bool ConvertBlock(const std::uint8_t *bytes, std::size_t count, PcmSink &sink);
    // Ends the input: an incomplete last frame is dropped. Enough for Repeat, which keeps
    // nothing back; a resampled input needs FinishInput.
    void EndInput() { pendingBytes_ = 0; }
    // Ends the input after handing sink what the resampler still holds (nothing to do for
    // Repeat). False when the sink failed.
    bool FinishInput(PcmSink &sink);
    // Whether the current input goes through the resampler.
    bool Resampled() const { return swr_ != nullptr; }

    bool SameFormat() const { return same_; }
    float RateRatio() const { return ratio_; }
    float RepeatAccumulator() const { return acc_; }

    // Whole frames converted by the repeat rule, in code made for one pair of formats.
    using RunFn = bool (*)(PcmConverter &, const std::uint8_t *, std::size_t, PcmSink &);

private:
    friend struct RepeatRuns;
    static RunFn PickRun(const PcmFormat &in, const PcmFormat &out);
    std::size_t BuildFrame(const std::uint8_t *in, std::uint8_t *out) const;
    bool FlushOut(PcmSink &sink);
    bool Take(const std::uint8_t *inFrame, PcmSink &sink);
    int Resample(const std::uint8_t **in, int frames);
    bool ResampleQueued(PcmSink &sink);
    bool EmitResampled(int frames, PcmSink &sink);
    bool Reserve(std::size_t bytes, PcmSink &sink);
    void FreeResampler();

    PcmFormat in_, out_;
    bool same_ = true;
    float ratio_ = 0.0f;
    float acc_ = 0.0f;
    std::size_t inFrame_ = 1, outFrame_ = 1;
    std::vector<std::uint8_t> pending_;
    std::size_t pendingBytes_ = 0;
    std::vector<std::uint8_t> outBuf_;
    std::size_t outUsed_ = 0;
    // The repeat rule's loop for this pair of formats (whichever frames arrive, whole blocks or
    // one straddling two); null for a copy or Resampling::Hq.
    RunFn run_ = nullptr;
    // Resampling::Hq: frames in the target's channels and bits, as doubles, wait in hqIn_
    // for the resampler (fewer the steeper its ratio); its output lands in hqOut_.
    SwrContext *swr_ = nullptr;
    std::vector<double> hqIn_, hqOut_;
    std::size_t hqBlock_ = 0;       // frames hqIn_ holds
    std::size_t hqQueued_ = 0;      // frames waiting in hqIn_
    std::uint64_t hqFramesIn_ = 0;  // whole frames of the input so far
    std::uint64_t hqFramesOut_ = 0; // frames handed on so far
};

} // namespace tandrel
