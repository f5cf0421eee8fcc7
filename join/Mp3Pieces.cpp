#include "join/Mp3Pieces.h"

#include "audio/Mp3Frames.h"
#include "encoders/Mp3Bitstream.h"

#include <array>

namespace tandrel {
namespace {

// The frames remembered behind the walk: a reservoir of 511 bytes spans fewer than this many
// frames of any legal bitrate.
constexpr std::size_t kHistory = 64;

struct FrameInfo {
    std::uint64_t offset = 0;
    int area = 0;          // bytes of main data the frame carries
    int mainDataBegin = 0; // bytes of its main data in the frames before it
};

// The frames behind the walk, newest last.
class FrameHistory {
public:
    void Add(const FrameInfo &f) { ring_[count_++ % kHistory] = f; }
    std::int64_t Count() const { return std::int64_t(count_); }
    const FrameInfo &At(std::int64_t index) const { return ring_[std::size_t(index) % kHistory]; }
    // The earliest frame that holds main data of frame index; -1 when it is no longer known.
    std::int64_t ReservoirStart(std::int64_t index) const {
        int need = At(index).mainDataBegin;
        std::int64_t at = index;
        while (need > 0) {
            if (--at < 0 || index - at >= std::int64_t(kHistory) - 1)
                return at < 0 ? 0 : -1;
            need -= At(at).area;
        }
        return at;
    }

private:
    std::array<FrameInfo, kHistory> ring_{};
    std::size_t count_ = 0;
};

// The range of the piece whose first frame is first, decided when the walk has just passed
// frame first - 2; false when the reservoir reaches further back than remembered.
bool PieceRange(const FrameHistory &h, std::int64_t first, int samples, Mp3Range &range) {
    const std::int64_t start = h.ReservoirStart(first - 2);
    if (start < 0)
        return false;
    const std::int64_t lead = start > 0 ? start - 1 : 0;
    range.startByte = h.At(lead).offset;
    range.startSample = lead * samples;
    range.keepFrom = first * samples;
    return true;
}

// A range decoder starts its output in the format of its first frame, and a whole file's
// decoder in that of the file's: only a file of one format throughout is cut into pieces.
bool SameFormat(const Mp3Frame &a, const Mp3Frame &b) {
    return a.samples == b.samples && a.sampleRate == b.sampleRate && a.mono == b.mono;
}

} // namespace

int Mp3PieceFrames(int sampleRate) {
    return sampleRate >= 32000 ? 256 : 512; // 1152 samples a frame, else 576
}

Mp3Pieces PlanMp3Pieces(int fd, std::uint64_t first, std::uint64_t end, int framesPerPiece) {
    Mp3Frames walk(fd, first, end);
    Mp3Pieces plan;
    if (framesPerPiece < 4 || !walk.FindFirst(1))
        return plan;
    FrameHistory history;
    Mp3Frame f, firstFrame;
    for (;;) {
        const std::uint64_t at = walk.Position();
        const std::uint8_t *data = walk.Next(f);
        if (!data)
            break;
        mp3::FrameHeader fh;
        if (walk.SkippedBytes() > 0 || !mp3::ParseHeader(data, std::size_t(f.bytes), fh) ||
            (plan.samplesPerFrame && !SameFormat(f, firstFrame)))
            return {};
        if (!plan.samplesPerFrame)
            firstFrame = f;
        plan.samplesPerFrame = f.samples;
        history.Add({at, int(fh.length) - int(fh.DataOffset()), mp3::MainDataBegin(data, fh)});
        const std::int64_t next = history.Count() + 1; // the piece that may start there
        if (next % framesPerPiece == 0) {
            Mp3Range range;
            if (!PieceRange(history, next, f.samples, range))
                return {};
            plan.ranges.push_back(range);
        }
    }
    if (walk.Truncated())
        return {};
    // A piece planned past the last frame is none.
    const std::int64_t frames = plan.frames = history.Count();
    while (!plan.ranges.empty() && plan.ranges.back().keepFrom >= frames * plan.samplesPerFrame)
        plan.ranges.pop_back();
    if (plan.ranges.empty())
        return {};
    plan.ranges.insert(plan.ranges.begin(), Mp3Range{first, 0, 0, -1});
    for (std::size_t i = 0; i + 1 < plan.ranges.size(); ++i) {
        const std::int64_t startFrame = plan.ranges[i].startSample / plan.samplesPerFrame;
        plan.ranges[i].frames = plan.ranges[i + 1].keepFrom / plan.samplesPerFrame - startFrame;
    }
    return plan;
}

} // namespace tandrel
