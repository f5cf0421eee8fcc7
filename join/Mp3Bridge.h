#pragma once

#include "audio/Mp3FrameDecoder.h"
#include "encoders/BladeEnc.h"
#include "encoders/Mp3Splice.h"
#include "join/Mp3Copy.h"

#include <atomic>
#include <cstdint>
#include <vector>

namespace tandrel {

// One side of a seam: frames of an input held in memory, numbered in the output.
struct SeamSide {
    mp3::EncodedRun run;   // the first input's last frames, or the second's first ones
    std::int64_t base = 0; // the output frame where the input's first frame goes
    // Decoded samples of the input (from its first frame) where its audio starts and ends.
    std::int64_t audioFrom = 0, audioTo = 0;
};

enum class BridgeResult { Done, Failed, Stopped };

// Bridges seams between MP3 inputs of one rate and channel count: the audio around the seam,
// decoded from both sides, is joined exactly, the second input's move onto the frame grid is
// crossfaded where it is least heard, and a few frames re-encoded with the MP3 library are
// spliced between the two inputs' own frames (see mp3::Splice).
class Mp3Bridger {
public:
    Mp3Bridger(const bladeenc::Api &api, int sampleRate, int channels, int frameSamples)
        : api_(api), rate_(sampleRate), channels_(channels), n_(frameSamples) {}

    // The output frame for the next input's first frame: the nearest to where its audio
    // would follow the previous input's without a gap.
    std::int64_t Place(const SeamSide &previous, std::int64_t nextAudioFrom) const;
    // Frames of the next input's start that Bridge needs at least.
    int HeadFrames(std::int64_t audioFrom) const;
    // Frames of the previous input's end that Bridge needs at least.
    int TailFrames() const;

    // Splices a bridge between a and b (b.base from Place): a.run ends before the bridge (its
    // last frames' spare bytes rewritten), bridge holds the bridge's frames and b.run.keptFrom
    // is where b's frames take over. seam tells how.
    BridgeResult Bridge(SeamSide &a, SeamSide &b, mp3::EncodedRun &bridge, Mp3Seam &seam,
                        const std::atomic<bool> &stop);

private:
    // Frames of so many granules of 576 samples.
    int Frames(int granules) const { return granules * 576 / n_; }
    struct Plan {
        std::int64_t seam = 0;  // output sample where the first input's audio ends
        std::int64_t shift = 0; // the second input's move
        std::int64_t fadeFrom = 0, fadeTo = 0;
        int side = 0;
        std::int64_t latestA = 0, earliestB = 0;   // splice bounds
        std::int64_t firstFrame = 0, endFrame = 0; // of the bridge's encoder stream
    };
    // Decodes run's frames [from, to), to the end when to is negative.
    void Decode(const mp3::EncodedRun &run, std::int64_t from, std::vector<float> &out,
                std::int64_t to = -1);
    std::int64_t ReliableFrom(const mp3::EncodedRun &run, std::int64_t from) const;
    void DecodeA(const SeamSide &a, std::int64_t first);
    void DecodeB(const SeamSide &b, std::int64_t to);
    Plan PlanSeam(const SeamSide &a, const SeamSide &b);
    void ChooseFade(Plan &plan, const SeamSide &b) const;
    float Joined(const SeamSide &b, std::int64_t seam, std::int64_t at, int ch) const;
    double Energy(const SeamSide &b, const Plan &plan, std::int64_t from, std::int64_t to) const;
    void BuildPcm(const Plan &plan, const SeamSide &b);
    int BridgeKbps() const;
    mp3::RunResult EncodeOnce(const bladeenc::BE_CONFIG &config, mp3::EncodedRun &bridge,
                              std::int64_t firstFrame, const std::atomic<bool> &stop);
    double EncodedGain(const mp3::EncodedRun &bridge);
    mp3::RunResult Encode(const bladeenc::BE_CONFIG &config, mp3::EncodedRun &bridge,
                          const std::atomic<bool> &stop);
    bool SpliceBoth(const Plan &plan, SeamSide &a, SeamSide &b, mp3::EncodedRun &bridge,
                    int candidates, std::int64_t &changed, std::int64_t &jb);
    void TakeFlags(const SeamSide &a, mp3::EncodedRun &bridge, std::int64_t ja, std::int64_t jb);

    const bladeenc::Api &api_;
    int rate_, channels_, n_;
    Mp3FrameDecoder decoder_;
    std::vector<float> pcmA_, pcmB_, pcmCheck_;
    std::int64_t aFrom_ = 0; // the first input's frame pcmA_ is decoded from
    std::int64_t reliableA_ = 0;
    std::int64_t bTo_ = 0; // the second input's frame pcmB_ is decoded up to
    std::vector<std::int16_t> bridgePcm_;
    std::vector<std::uint8_t> scratch_;
};

} // namespace tandrel
