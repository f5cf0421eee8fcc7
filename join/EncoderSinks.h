#pragma once

#include "join/JoinPipeline.h"

#include <memory>

namespace tandrel {

// The MP3 (WavToMp3) or WMA (WavToWma) stage for the wizard's settings, as a join output.
// Use as JoinRequest::makeEncoder.
std::unique_ptr<OutputSink> MakeEncoderSink(const OutputSettings &settings);

} // namespace tandrel
