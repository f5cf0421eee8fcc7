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

// Joins the inputs (all MP3, CheckMp3Copy allowed) into the MP3 file request.output.path by
// copying their frames and bridging each seam. Progress1 follows the input, Progress2 the
// whole join. Messages shown as RunJoin's are; the summary tells the seams. When a seam takes
// no bridge after all, nothing is written, the join fails and notKept says why (the caller
// joins again by re-encoding).
JoinStatus RunMp3Copy(const JoinRequest &request, JoinProgress &progress,
                      JoinSummary *summary = nullptr, std::string *notKept = nullptr);

} // namespace tandrel
