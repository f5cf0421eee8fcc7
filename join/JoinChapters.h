#pragma once

#include "join/JoinPipeline.h"

#include <cstdint>
#include <vector>

namespace tandrel {

// The frames an input becomes at the target's rate, when its row states its length exactly
// and the conversion's count is known ahead (same rate, or Resampling::Hq); -1 otherwise.
std::int64_t ForeseenFrames(const JoinInput &input, const PcmFormat &target, Resampling resampling);

// One chapter per input from where each started (starts) and where the output ended.
std::vector<Chapter> ChaptersOf(const std::vector<JoinInput> &inputs,
                                const std::vector<std::uint64_t> &starts, std::uint64_t endFrame);

// The request's metadata as an output gets it before the join: its chapters foreseen (and
// final) when every input is a wave file whose length is known ahead, else their titles at no
// time yet.
OutputMetadata ForeseenMetadata(const JoinRequest &request);

} // namespace tandrel
