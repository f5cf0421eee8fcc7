#pragma once

#include "audio/Mp3Frames.h"
#include "audio/Mp3Header.h"

#include <cstdint>
#include <memory>
#include <string>

namespace tandrel {

// Sizes of a seam's bridge, in granules of 576 samples (an MPEG-1 frame holds two, an MPEG-2
// or 2.5 frame one).
inline constexpr int kBridgeLeadIn = 6;     // the bridge encoder settles before its first frame
inline constexpr int kBridgeCandidates = 8; // at most twice as many tried for each splice
inline constexpr int kBridgeRunPast = 4;    // encoded past the last splice candidate
// An input gives up at most so many granules to the bridges at its two ends.
inline constexpr int kCopyMinimumGranules = 160;

// One MP3 input as the frame-keeping join reads it: its frames in order (the ones its own
// decoding reads), and where its audio starts and ends in them.
struct Mp3CopyInput {
    int fd = -1;
    std::uint64_t size = 0;
    Mp3Header header;
    std::unique_ptr<Mp3Frames> frames;
    Mp3Frame first;                 // the first audio frame's header
    std::int64_t statedFrames = -1; // from the Xing/Info frame, else estimated
    // Decoded samples (from the first frame's first sample) before the audio: the encoder
    // delay and the decoder's own; and where the padding begins, -1 when not stated.
    std::int64_t skip = 0;
    std::int64_t endAt = -1;

    ~Mp3CopyInput();
    // Opens path and finds its first frame; false when it is not MP3 audio. The frames are
    // read through a buffer of readBytes.
    bool Open(const std::string &path, std::size_t readBytes = 65536);
    int FrameSamples() const { return first.samples; }
    int Channels() const { return first.mono ? 1 : 2; }
    double Seconds() const;
};

// Frames an input needs at least, for frames of frameSamples.
inline int CopyMinimumFrames(int frameSamples) {
    return kCopyMinimumGranules * 576 / frameSamples;
}

} // namespace tandrel
