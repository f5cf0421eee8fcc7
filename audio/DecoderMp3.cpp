#include "audio/Decoder.h"

#include "audio/FileAccess.h"
#include "audio/Mp3Frames.h"
#include "audio/Mp3Header.h"

#include <algorithm>

#include "audio/Ffmpeg.h"

// The MP3 side of opening a decoder: what the file's header states, and whether to believe it.
namespace tandrel {
namespace {

// How far into the audio part the first run of MP3 frames may begin.
constexpr std::uint64_t kMp3SearchBytes = 1 << 20;
// The decoder's own delay, which the encoder delay and padding of a LAME tag leave out.
constexpr int kMp3DecoderDelay = 529;

} // namespace

// Counts the frames when the header's frame count cannot describe the audio part: the file
// was cut short before it came here, or the header does not belong to its frames.
Decoder::StatedLength Decoder::CheckStatedLength(Mp3Header &h, std::uint64_t first,
                                                 std::int64_t &samples) {
    if (!h.hasFrameCount || h.audioEnd <= h.audioStart)
        return StatedLength::Trusted;
    const std::uint64_t audio = h.audioEnd - h.audioStart;
    const bool cut = h.statedBytes > audio;
    const double frameBytes =
        double(h.statedBytes && !cut ? h.statedBytes : audio) - double(h.infoFrameBytes);
    const double least = double(h.frames) * Mp3SmallestFrameBytes(h);
    const double most = double(h.frames + 1) * Mp3LargestFrameBytes(h);
    if (!cut && least <= frameBytes + Mp3LargestFrameBytes(h) && most >= frameBytes)
        return StatedLength::Trusted;
    const Mp3FrameCount count = CountMp3Frames(fd_, first, h.audioEnd, kMp3SearchBytes);
    if (count.frames == h.frames && !count.partialEnd)
        return StatedLength::Trusted;
    samples = std::int64_t(count.samples);
    if (count.frames < h.frames && (cut || count.partialEnd)) {
        // The delay at the start is still there; the padding went with the end.
        if (h.hasGapless)
            samples = std::max<std::int64_t>(0, samples - h.encoderDelay - kMp3DecoderDelay);
        h.hasFrameCount = false;
        return StatedLength::Cut;
    }
    h.hasFrameCount = false;
    h.hasGapless = false;
    return StatedLength::Wrong;
}

// The output format as the first frame states it, for a decoder that decodes nothing.
bool Decoder::DescribeMp3() {
    Mp3Frames look(fd_, frames_->Position(), mp3End_);
    Mp3Frame f;
    if (!look.FindFirst(1) || !look.Next(f))
        return false;
    rate_ = f.sampleRate;
    channels_ = f.mono ? 1 : 2;
    bits_ = 16;
    frameBytes_ = std::size_t(channels_) * 2;
    return rate_ > 0;
}

bool Decoder::SetupMp3(Mp3Header h, std::uint64_t size, bool describeOnly) {
    const std::uint64_t first = h.audioStart + h.infoFrameBytes;
    frames_ = std::make_unique<Mp3Frames>(fd_, first, h.audioEnd);
    if (!frames_->FindFirst(kMp3SearchBytes))
        return false;
    frames_->CutShortFrames();
    std::int64_t counted = -1;
    const StatedLength stated = CheckStatedLength(h, first, counted);
    cutBeforeOpen_ = stated == StatedLength::Cut;
    std::int64_t samples = stated == StatedLength::Trusted ? Mp3ExactSamples(h) : counted;
    const bool exact = stated == StatedLength::Trusted && samples >= 0;
    if (samples < 0)
        samples = Mp3EstimatedSamples(h);
    if (h.hasGapless) {
        skipStart_ = h.encoderDelay + kMp3DecoderDelay;
        if (h.hasFrameCount) {
            discardTo_ = std::int64_t(h.frames) * h.samplesPerFrame;
            discardFrom_ = discardTo_ - h.padding + kMp3DecoderDelay;
        }
    }
    source_.size = static_cast<std::int64_t>(size);
    mp3First_ = frames_->Position();
    mp3End_ = h.audioEnd;
    if (describeOnly
            ? !DescribeMp3() || !Finish(samples)
            : !OpenCodec(avcodec_find_decoder(AV_CODEC_ID_MP3), nullptr) || !Finish(samples))
        return false;
    if (exact)
        exactBytes_ = static_cast<std::int64_t>(length_);
    return true;
}

std::unique_ptr<Decoder> Decoder::OpenMp3Range(const Mp3Range &range) const {
    std::unique_ptr<Decoder> d(new Decoder);
    d->path_ = path_;
    d->container_ = container_;
    std::uint64_t size = 0;
    d->fd_ = OpenRegularFile(path_, size);
    if (d->fd_ < 0)
        return nullptr;
    d->frames_ = std::make_unique<Mp3Frames>(d->fd_, range.startByte, mp3End_);
    if (!d->frames_->FindFirst(1))
        return nullptr;
    d->frames_->CutShortFrames();
    d->source_.size = static_cast<std::int64_t>(size);
    d->skipStart_ = skipStart_;
    d->discardFrom_ = discardFrom_;
    d->discardTo_ = discardTo_;
    d->nextPts_ = range.startSample;
    d->dropBefore_ = range.keepFrom;
    d->frameLimit_ = range.frames;
    d->mp3First_ = mp3First_;
    d->mp3End_ = mp3End_;
    // A range all of whose audio is trimmed away gives nothing, and that is no failure.
    const bool opened = d->OpenCodec(avcodec_find_decoder(AV_CODEC_ID_MP3), nullptr);
    if (d->rate_ <= 0 || (!opened && (d->failed_ || !d->ended_)))
        return nullptr;
    return d;
}

void Decoder::AddRange(const Decoder &range, std::uint64_t bytes) {
    position_ += bytes;
    lostSamples_ += range.lostSamples_;
    lastFrameSamples_ = range.lastFrameSamples_;
    failed_ = failed_ || range.failed_ || range.frames_->Truncated();
    ended_ = true;
    UpdateLength();
}

} // namespace tandrel
