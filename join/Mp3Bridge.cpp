#include "join/Mp3Bridge.h"

#include "encoders/Mp3Bitstream.h"
#include "encoders/Wavtomp3.h"
#include "join/Mp3CopyInput.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tandrel {
namespace {

// A stream of the MP3 library decodes its input this many samples late: its own delay and
// the decoder's.
constexpr std::int64_t kStreamDelay = 576 + 529;
constexpr double kPi = 3.14159265358979323846;
// The library's quality for bridges: at the highest bitrate its faster search gives bridge
// frames as close to the source as its default does, in a little more than half the time.
constexpr int kBridgeQuality = 7;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// v in 16 bits, rounded half to even as nearbyint rounds by default, without its library call:
// adding 1.5 * 2^52 leaves no fraction bits.
std::int16_t Pcm16(double v) {
    constexpr double kRound = 6755399441055744.0;
    const double scaled = std::clamp(v * 32768.0, -32768.0, 32767.0);
    return std::int16_t((scaled + kRound) - kRound);
}

} // namespace

std::int64_t Mp3Bridger::Place(const SeamSide &previous, std::int64_t nextAudioFrom) const {
    const std::int64_t ideal = previous.base * n_ + previous.audioTo - nextAudioFrom;
    return FloorDiv(ideal + n_ / 2, n_);
}

int Mp3Bridger::HeadFrames(std::int64_t audioFrom) const {
    const int candidates = Frames(2 * kBridgeCandidates), runPast = Frames(kBridgeRunPast);
    return int((audioFrom + 3 * n_) / n_) + candidates + runPast + 4;
}

int Mp3Bridger::TailFrames() const {
    const int candidates = Frames(2 * kBridgeCandidates), leadIn = Frames(kBridgeLeadIn);
    return 4096 / n_ + 6 + candidates + leadIn + 12;
}

void Mp3Bridger::Decode(const mp3::EncodedRun &run, std::int64_t from, std::vector<float> &out,
                        std::int64_t to) {
    out.clear();
    decoder_.Open(channels_, n_);
    to = to < 0 ? run.EndFrame() : std::min(to, run.EndFrame());
    for (std::int64_t k = from; k < to; ++k)
        decoder_.Decode(run.FrameData(k), run.Span(k, k + 1), out);
}

// The first frame of run that decodes as in the whole input when decoding starts at frame
// from: its bit reservoir and the decoder's filters are filled by the frames before it.
std::int64_t Mp3Bridger::ReliableFrom(const mp3::EncodedRun &run, std::int64_t from) const {
    const std::size_t reservoir = std::size_t(mp3::MaxMainDataBegin(mp3::HeaderOf(run, from)));
    std::size_t area = 0;
    std::int64_t k = from;
    for (; k < run.EndFrame() && area < reservoir; ++k)
        area += run.Span(k, k + 1) - mp3::HeaderOf(run, k).DataOffset();
    return k + 2;
}

// Decodes the first input's held frames from the latest one after which frame `first` decodes
// as in the whole input (from the first held one when none does), unless what is decoded
// already starts earlier; reliableA_ is the first frame that does.
void Mp3Bridger::DecodeA(const SeamSide &a, std::int64_t first) {
    std::int64_t from = a.run.firstFrame;
    if (from != a.base) // not the input's own first frame, which decodes as in the whole input
        for (std::int64_t k = std::min(first, a.run.EndFrame() - 1); k > from; --k)
            if (ReliableFrom(a.run, k) <= first) {
                from = k;
                break;
            }
    if (from >= aFrom_)
        return;
    Decode(a.run, from, pcmA_);
    aFrom_ = from;
    reliableA_ = from == a.base ? a.base : ReliableFrom(a.run, from);
}

// Decodes the second input's held frames from its first one up to frame `to` at least.
void Mp3Bridger::DecodeB(const SeamSide &b, std::int64_t to) {
    to = std::min(to, b.run.EndFrame());
    if (to <= bTo_)
        return;
    bTo_ = to;
    Decode(b.run, b.run.firstFrame, pcmB_, bTo_);
}

// The two inputs joined without a gap, the first one's frames where they are: output sample
// `at` of channel ch.
float Mp3Bridger::Joined(const SeamSide &b, std::int64_t seam, std::int64_t at, int ch) const {
    const std::vector<float> &pcm = at < seam ? pcmA_ : pcmB_;
    const std::int64_t i = at < seam ? at - aFrom_ * n_ : at - seam + b.audioFrom;
    if (i < 0 || std::size_t(i + 1) * std::size_t(channels_) > pcm.size())
        return 0.0f;
    return pcm[std::size_t(i) * std::size_t(channels_) + std::size_t(ch)];
}

double Mp3Bridger::Energy(const SeamSide &b, const Plan &plan, std::int64_t from,
                          std::int64_t to) const {
    double sum = 0;
    for (std::int64_t at = from; at < to; ++at)
        for (int ch = 0; ch < channels_; ++ch) {
            const double v = Joined(b, plan.seam, at, ch);
            sum += v * v;
        }
    return sum;
}

// Where the move is crossfaded: over a frame's length in the quieter of the first input's
// end and the second's start.
void Mp3Bridger::ChooseFade(Plan &plan, const SeamSide &b) const {
    const std::int64_t s = plan.seam, d = plan.shift;
    if (d == 0) {
        plan.side = 0;
        plan.fadeFrom = plan.fadeTo = s;
        return;
    }
    const std::int64_t endFrom = std::min(s, s + d) - n_;
    const std::int64_t startFrom = std::max(s, s + d);
    const bool inEnd =
        Energy(b, plan, endFrom, endFrom + n_) < Energy(b, plan, startFrom, startFrom + n_);
    plan.side = inEnd ? 1 : 2;
    plan.fadeFrom = inEnd ? endFrom : startFrom;
    plan.fadeTo = plan.fadeFrom + n_;
}

void Mp3Bridger::BuildPcm(const Plan &plan, const SeamSide &b) {
    const std::int64_t from = plan.firstFrame * n_ + kStreamDelay;
    const std::int64_t count = (plan.endFrame - plan.firstFrame) * n_;
    bridgePcm_.assign(std::size_t(count) * std::size_t(channels_), 0);
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t at = from + i;
        double w = 0;
        if (plan.side != 0 && at >= plan.fadeTo)
            w = 1;
        else if (plan.side != 0 && at >= plan.fadeFrom)
            w = 0.5 - 0.5 * std::cos(kPi * (double(at - plan.fadeFrom) + 0.5) / double(n_));
        for (int ch = 0; ch < channels_; ++ch) {
            double v = 0;
            if (w < 1)
                v += (1 - w) * Joined(b, plan.seam, at, ch);
            if (w > 0)
                v += w * Joined(b, plan.seam, at - plan.shift, ch);
            bridgePcm_[std::size_t(i) * std::size_t(channels_) + std::size_t(ch)] = Pcm16(v);
        }
    }
}

// The highest bitrate: the bridge re-encodes audio that was encoded once already.
int Mp3Bridger::BridgeKbps() const {
    return mp3::Kbps(n_ == 1152 ? 3 : 2, 14);
}

// The latest first frame and the earliest end the bridge splices at.
bool Mp3Bridger::SpliceBoth(const Plan &plan, SeamSide &a, SeamSide &b, mp3::EncodedRun &bridge,
                            int candidates, std::int64_t &changed, std::int64_t &jb) {
    // The second input may take over at any frame the encoder stream covers anyway: a bridge
    // one frame longer, where its reservoir needs it, costs no second encode.
    const int bCandidates = std::max(candidates, Frames(kBridgeCandidates));
    for (std::int64_t ja = plan.latestA; ja > plan.latestA - candidates; --ja)
        for (jb = plan.earliestB; jb < plan.earliestB + bCandidates; ++jb)
            if (mp3::SpliceRepacked(a.run, bridge, b.run, ja, jb, &changed))
                return true;
    return false;
}

// Bridge frames take the copied frames' copyright, original, private and emphasis bits.
void Mp3Bridger::TakeFlags(const SeamSide &a, mp3::EncodedRun &bridge, std::int64_t ja,
                           std::int64_t jb) {
    const std::uint8_t *model = a.run.FrameData(a.run.EndFrame() - 1);
    for (std::int64_t k = ja; k < jb; ++k) {
        std::uint8_t *f = bridge.bytes.data() + bridge.offsets[std::size_t(k - bridge.firstFrame)];
        f[2] = std::uint8_t((f[2] & ~1) | (model[2] & 1));
        f[3] = std::uint8_t((f[3] & ~0x0F) | (model[3] & 0x0F));
        const mp3::FrameHeader h = mp3::HeaderOf(bridge, k);
        if (h.crc)
            mp3::WriteCrc(f, h);
    }
}

mp3::RunResult Mp3Bridger::EncodeOnce(const bladeenc::BE_CONFIG &config, mp3::EncodedRun &bridge,
                                      std::int64_t firstFrame, const std::atomic<bool> &stop) {
    bridge.Clear();
    bridge.firstFrame = bridge.keptFrom = firstFrame;
    const mp3::PcmSpan span{bridgePcm_.data(), bridgePcm_.size()};
    const mp3::RunResult r = mp3::EncodeRun(api_, config, &span, 1, bridge, stop, scratch_);
    if (r == mp3::RunResult::Done &&
        (bridge.Frames() == 0 || mp3::HeaderOf(bridge, bridge.firstFrame).sampleRate != rate_))
        return mp3::RunResult::EncodeFailed;
    return r;
}

// The encoder's own level: its decode against what it was given.
double Mp3Bridger::EncodedGain(const mp3::EncodedRun &bridge) {
    Decode(bridge, bridge.firstFrame, pcmCheck_);
    double cross = 0, power = 0;
    const std::size_t from = std::size_t(kStreamDelay) * std::size_t(channels_);
    for (std::size_t i = from; i < pcmCheck_.size() && i - from < bridgePcm_.size(); ++i) {
        const double given = bridgePcm_[i - from] / 32768.0;
        cross += pcmCheck_[i] * given;
        power += given * given;
    }
    return power > 0 ? cross / power : 1.0;
}

// Encodes the bridge's PCM. At some bitrates and rates the encoder gives back a lower level
// than it was given (about 5 % at 160 kbps); a second generation would lose as much again
// against its neighbours, so the PCM is raised by what the first try lost and encoded again.
mp3::RunResult Mp3Bridger::Encode(const bladeenc::BE_CONFIG &config, mp3::EncodedRun &bridge,
                                  const std::atomic<bool> &stop) {
    const std::int64_t first = bridge.firstFrame;
    const mp3::RunResult r = EncodeOnce(config, bridge, first, stop);
    if (r != mp3::RunResult::Done)
        return r;
    const double gain = EncodedGain(bridge);
    if (gain > 0.995 || gain < 0.8)
        return r;
    for (std::int16_t &v : bridgePcm_)
        v = std::int16_t(std::clamp(std::nearbyint(v / gain), -32768.0, 32767.0));
    return EncodeOnce(config, bridge, first, stop);
}

// Where the two inputs meet and where the bridge may splice, from the audio decoded around it.
Mp3Bridger::Plan Mp3Bridger::PlanSeam(const SeamSide &a, const SeamSide &b) {
    // The first try encodes from about leadIn frames before the first input's last ones and
    // ends a few frames after the second input's audio starts.
    const int leadIn = Frames(kBridgeLeadIn), runPast = Frames(kBridgeRunPast);
    aFrom_ = std::numeric_limits<std::int64_t>::max();
    DecodeA(a, a.run.EndFrame() - leadIn - 6);
    bTo_ = b.run.firstFrame;
    DecodeB(b, b.base + (b.audioFrom + 3 * n_) / n_ + Frames(kBridgeCandidates) + runPast + 4);
    Plan plan;
    plan.seam = a.base * n_ + a.audioTo;
    plan.shift = b.base * n_ + b.audioFrom - plan.seam;
    ChooseFade(plan, b);
    const std::int64_t lo = plan.side == 1 ? plan.fadeFrom : plan.seam;
    const std::int64_t hi =
        plan.side == 1 ? plan.seam + plan.shift : std::max(plan.seam, plan.fadeTo);
    plan.latestA = FloorDiv(lo, n_) - 1;
    plan.earliestB = FloorDiv(hi + n_ - 1, n_) + 1;
    return plan;
}

BridgeResult Mp3Bridger::Bridge(SeamSide &a, SeamSide &b, mp3::EncodedRun &bridge, Mp3Seam &seam,
                                const std::atomic<bool> &stop) {
    if (a.run.Frames() < 2 || b.run.Frames() < 2)
        return BridgeResult::Failed;
    a.run.keptFrom = a.run.firstFrame;
    b.run.keptFrom = b.run.firstFrame;
    Plan plan = PlanSeam(a, b);
    const int leadIn = Frames(kBridgeLeadIn), runPast = Frames(kBridgeRunPast);
    const mp3::EncodedRun heldA = a.run;
    const mp3::FrameHeader model = mp3::HeaderOf(a.run, a.run.EndFrame() - 1);
    const bladeenc::BE_CONFIG config = WavToMp3::WithQuality(
        WavToMp3::MakeConfig(rate_, channels_ == 2 ? 1 : 4, unsigned(BridgeKbps()), false,
                             model.crc, false, false),
        kBridgeQuality);
    // One splice point each side first, the usual case; more frames are encoded to offer more
    // only when it does not fit.
    for (int candidates = 1; candidates <= Frames(2 * kBridgeCandidates); candidates *= 2) {
        plan.firstFrame = plan.latestA - candidates + 1 - leadIn;
        plan.endFrame = plan.earliestB + std::max(candidates, Frames(kBridgeCandidates)) + runPast;
        DecodeA(a, plan.firstFrame + kStreamDelay / n_);
        DecodeB(b, plan.endFrame + 3);
        if (plan.firstFrame * n_ + kStreamDelay < reliableA_ * n_ ||
            plan.endFrame + 2 > b.run.EndFrame() || plan.latestA - candidates < a.run.firstFrame)
            return BridgeResult::Failed;
        BuildPcm(plan, b);
        bridge.firstFrame = plan.firstFrame;
        const mp3::RunResult r = Encode(config, bridge, stop);
        if (r == mp3::RunResult::Stopped)
            return BridgeResult::Stopped;
        if (r != mp3::RunResult::Done)
            return BridgeResult::Failed;
        std::int64_t changed = -1, jb = -1;
        if (SpliceBoth(plan, a, b, bridge, candidates, changed, jb)) {
            const std::int64_t ja = bridge.firstFrame;
            TakeFlags(a, bridge, ja, jb);
            seam.firstFrame = changed;
            seam.frames = int(jb - changed);
            seam.reencoded = int(jb - ja);
            seam.kbps = int(config.format.LHV1.dwBitrate);
            seam.shift = int(plan.shift);
            seam.fadeIn = plan.side;
            return BridgeResult::Done;
        }
        a.run = heldA;
        a.run.keptFrom = a.run.firstFrame;
        b.run.keptFrom = b.run.firstFrame;
    }
    return BridgeResult::Failed;
}

} // namespace tandrel
