#pragma once

#include "join/PcmTypes.h"

#include <cstdint>
#include <functional>
#include <string>

namespace tandrel {

// Called with a whole percentage after every block or chunk; answers whether to stop.
using ProgressReport = std::function<bool(int percent)>;

enum class StageResult { Done, Stopped, Failed };

// "Cannot creat the output file." with the chosen name and the system's reason below it:
// every failure to create or write the output is reported so.
void ShowOutputError(const std::string &path, int err);

// trunc(done * 100 / total), at most 100; 0 when total is 0.
int Percent(std::uint64_t done, std::uint64_t total);

// Feeds size bytes of PCM read from pcmFd (from its current position) to sink, in chunks of
// sink.ChunkBytes(), reporting progress after each chunk; a sink that takes ranges of files
// gets them kRangeBytes at a time, progress after each. pcmName names the file in a read
// error's message.
StageResult CopyToSink(int pcmFd, std::uint64_t size, OutputSink &sink,
                       const ProgressReport &progress, const std::string &pcmName);

// The whole output stage: the sink writes an unnamed file that takes outputPath's place at
// the end (see OutputFile). After a failure outputPath is left as it was and nothing
// half-written remains; after a stop the partial file takes the name unless
// discardIfStopped. Every failure's message has been shown when this returns.
// spareFolder may hold the unfinished file when outputPath's folder takes no new one;
// keepAlive runs while a finished join is copied into place (a step no stop interrupts).
StageResult WriteOutput(int pcmFd, std::uint64_t size, const std::string &pcmName, OutputSink &sink,
                        const PcmFormat &format, const std::string &outputPath,
                        const ProgressReport &progress, bool discardIfStopped,
                        const std::string &spareFolder = "",
                        const std::function<void()> &keepAlive = nullptr);

} // namespace tandrel
