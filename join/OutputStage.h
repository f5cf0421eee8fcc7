#pragma once

#include "join/PcmTypes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tandrel {

// Called with a whole percentage after every block or chunk; answers whether to stop.
using ProgressReport = std::function<bool(int percent)>;

enum class StageResult { Done, Stopped, Failed };

// trunc(done * 100 / total), at most 100; 0 when total is 0.
int Percent(std::uint64_t done, std::uint64_t total);

// Feeds size bytes of PCM read from pcmFd (from its current position) to sink, in chunks of
// sink.ChunkBytes(), reporting progress after each chunk. pcmName names the file in a
// read error's message.
StageResult CopyToSink(int pcmFd, std::uint64_t size, OutputSink &sink,
                       const ProgressReport &progress, const std::string &pcmName);

// The whole output stage: the sink writes under a temporary name beside outputPath, and the
// result is moved onto outputPath at the end. After a failure outputPath is left as it was
// and nothing half-written remains; after a stop the partial file takes the name unless
// discardIfStopped. Every failure's message has been shown when this returns.
StageResult WriteOutput(int pcmFd, std::uint64_t size, const std::string &pcmName, OutputSink &sink,
                        const PcmFormat &format, const std::string &outputPath,
                        const ProgressReport &progress, bool discardIfStopped);

} // namespace tandrel
