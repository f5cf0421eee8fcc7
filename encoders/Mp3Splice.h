#pragma once

#include "encoders/BladeEnc.h"
#include "encoders/Mp3Bitstream.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mp3 {

// Frames of one encoder stream, numbered in the joined stream.
struct EncodedRun {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint32_t> offsets; // where each frame starts, then the end
    std::int64_t firstFrame = 0;        // number of the stream's first frame
    std::int64_t keptFrom = 0;          // first frame that goes into the output
    std::size_t Frames() const { return offsets.empty() ? 0 : offsets.size() - 1; }
    std::int64_t EndFrame() const { return firstFrame + std::int64_t(Frames()); }
    // Bytes of frames [from, to) in the joined numbering.
    const std::uint8_t *FrameData(std::int64_t frame) const {
        return bytes.data() + offsets[std::size_t(frame - firstFrame)];
    }
    std::size_t Span(std::int64_t from, std::int64_t to) const {
        return offsets[std::size_t(to - firstFrame)] - offsets[std::size_t(from - firstFrame)];
    }
    void Clear() {
        bytes.clear();
        offsets.clear();
        firstFrame = keptFrom = 0;
    }
};

// The header of run's frame (numbered in the joined stream).
FrameHeader HeaderOf(const EncodedRun &run, std::int64_t frame);

// Interleaved 16-bit samples fed to one stream in order.
struct PcmSpan {
    const std::int16_t *data = nullptr;
    std::size_t values = 0;
};

enum class RunResult { Done, InitFailed, EncodeFailed, Stopped };

// Encodes spans with a fresh stream of the library (config as for beInitStream), flushed at
// the end, appending to run.bytes and indexing its frames. stop is looked at between chunks.
RunResult EncodeRun(const bladeenc::Api &api, const bladeenc::BE_CONFIG &config,
                    const PcmSpan *spans, std::size_t spanCount, EncodedRun &run,
                    const std::atomic<bool> &stop, std::vector<std::uint8_t> &scratch);

// Indexes run.bytes into frames from offset 0; false if something else than frames is met.
bool IndexFrames(EncodedRun &run);

// Joins next onto held at the first frame j in [from, from + candidates) where the windows
// agree and the bit reservoir of next's frame j fits into held's frames before j (raising
// the bitrate of held's frame j - 1 when it must and mayRaise). held is cut after frame j - 1
// and next.keptFrom becomes j. Returns j, or -1 when no candidate works (nothing is changed).
std::int64_t Splice(EncodedRun &held, EncodedRun &next, std::int64_t from, int candidates,
                    bool mayRaise = true);

// Puts bridge's frames [ja, jb) between held (its frames before ja) and next (its frames from
// jb on), where all three number their frames alike: bridge's main data is laid out again as
// early as the bit reservoir allows, so that next's frame jb finds its reservoir in the
// bridge's last frames; bridge frames (last first), then held's frame ja - 1, are raised to
// the highest bitrate where the room is short. The windows must agree at both joins. On
// success held ends before ja (its spare bytes rewritten), bridge holds [ja, jb) and
// next.keptFrom is jb, and changedFrom (when given) receives held's first frame whose bytes
// changed; false, and nothing changed, otherwise.
bool SpliceRepacked(EncodedRun &held, EncodedRun &bridge, EncodedRun &next, std::int64_t ja,
                    std::int64_t jb, std::int64_t *changedFrom = nullptr);

} // namespace mp3
