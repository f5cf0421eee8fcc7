#pragma once

#include "join/JoinInputs.h"
#include "join/JoinPipeline.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tandrel {

// Whether a list of inputs can be joined into an MP3 by keeping their frames: every input is
// MPEG audio layer III of one sample rate and one channel count, long enough to give up a few
// frames at each seam. why: the user's text (in the message language) naming the first input
// that stands in the way and what differs; empty when allowed.
struct Mp3CopyCheck {
    bool allowed = false;
    std::string why;
};
Mp3CopyCheck CheckMp3Copy(const std::vector<JoinInput> &inputs);

// How one seam between two inputs was bridged.
struct Mp3Seam {
    std::int64_t firstFrame = 0; // the bridge's first frame in the output (Info frame not counted)
    int frames = 0;              // frames re-encoded
    int kbps = 0;                // the bridge's bitrate (a frame may be raised above it)
    // Samples the second input moved so that its frames stay on the frame grid: positive when
    // audio was added at the seam, negative when removed.
    int shift = 0;
    // Where the added or removed audio was crossfaded: 0 nowhere (no shift), 1 in the end of
    // the first input, 2 in the start of the second.
    int fadeIn = 0;
};

// What a join that kept the frames produced.
struct Mp3CopySummary {
    std::vector<Mp3Seam> seams;
    std::int64_t frames = 0;  // audio frames written, the Info frame not counted
    std::int64_t samples = 0; // sample frames a gapless decoder gives
    int sampleRate = 0;
    int channels = 0;
    std::uint64_t copiedFrames = 0; // frames copied byte for byte
};

// Joins the inputs (all MP3, CheckMp3Copy allowed) into the MP3 file request.output.path by
// copying their frames and bridging each seam. Progress1 follows the input, Progress2 the
// whole join. Messages shown as RunJoin's are.
JoinStatus RunMp3Copy(const JoinRequest &request, JoinProgress &progress,
                      JoinSummary *summary = nullptr, Mp3CopySummary *copy = nullptr);

} // namespace tandrel
