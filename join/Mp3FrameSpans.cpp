#include "join/Mp3FrameSpans.h"

#include "audio/FileAccess.h"
#include "audio/Mp3Frames.h"
#include "encoders/Mp3Bitstream.h"

#include <algorithm>

namespace tandrel {
namespace {

// Left in the reader's buffer past its last frame, below which the next frame may move it.
constexpr std::size_t kReadMargin = 8192;

} // namespace

Mp3FrameSpans::Mp3FrameSpans(std::vector<Mp3FrameSpan> &spans, const Mp3Frames &frames, int fd,
                             std::size_t keep, std::uint64_t maxSpanBytes)
    : spans_(spans), frames_(frames), fd_(fd), maxSpanBytes_(maxSpanBytes),
      recent_(std::max<std::size_t>(keep, 1)) {}

bool Mp3FrameSpans::Add(std::uint64_t offset, std::uint64_t bytes) {
    if (spans_.empty() || spans_.back().offset + spans_.back().bytes != offset ||
        spans_.back().bytes + bytes > maxSpanBytes_) {
        if (!Flush())
            return false;
        spans_.push_back({offset, 0, 0, 0});
        pendingFrom_ = offset;
    }
    spans_.back().bytes += bytes;
    ++spans_.back().frames;
    recent_[next_] = {offset, bytes, 0};
    next_ = (next_ + 1) % recent_.size();
    filled_ = std::min(filled_ + 1, recent_.size());
    return frames_.BufferedAhead() >= kReadMargin || Flush();
}

bool Mp3FrameSpans::Finish() {
    return Flush();
}

std::vector<Mp3FramePlace> Mp3FrameSpans::Last() const {
    std::vector<Mp3FramePlace> last;
    for (std::size_t k = 0; k < filled_; ++k)
        last.push_back(recent_[(next_ + recent_.size() - filled_ + k) % recent_.size()]);
    return last;
}

// The pending bytes into the last span's CRC, noting it before each of the last frames.
bool Mp3FrameSpans::Flush() {
    if (spans_.empty())
        return true;
    Mp3FrameSpan &span = spans_.back();
    // The last frames that are pending, newest first back to the oldest of them.
    std::size_t pending = 0;
    for (std::size_t k = next_; pending < filled_; ++pending) {
        k = (k == 0 ? recent_.size() : k) - 1;
        if (recent_[k].offset < pendingFrom_)
            break;
    }
    std::uint16_t crc = span.crc;
    std::uint64_t at = pendingFrom_;
    for (std::size_t k = (next_ + recent_.size() - pending) % recent_.size(); pending > 0;
         --pending, k = k + 1 == recent_.size() ? 0 : k + 1) {
        Mp3FramePlace &p = recent_[k];
        if (!Crc(crc, at, p.offset - at))
            return false;
        p.crcBefore = crc;
        at = p.offset;
    }
    const std::uint64_t end = span.offset + span.bytes;
    if (!Crc(crc, at, end - at))
        return false;
    span.crc = crc;
    pendingFrom_ = end;
    return true;
}

bool Mp3FrameSpans::Crc(std::uint16_t &crc, std::uint64_t from, std::uint64_t count) {
    if (count == 0)
        return true;
    const std::uint8_t *data = frames_.Buffered(from, std::size_t(count));
    if (!data) {
        reread_.resize(std::size_t(count));
        if (!ReadAt(fd_, from, reread_.data(), reread_.size()))
            return false;
        data = reread_.data();
    }
    crc = mp3::Crc16Arc(crc, data, std::size_t(count));
    return true;
}

void DropLastFrames(std::vector<Mp3FrameSpan> &spans, std::int64_t count,
                    const Mp3FramePlace &first) {
    while (count > 0 && !spans.empty()) {
        Mp3FrameSpan &last = spans.back();
        if (last.frames <= count) {
            count -= last.frames;
            spans.pop_back();
            continue;
        }
        last.bytes = first.offset - last.offset;
        last.frames -= count;
        last.crc = first.crcBefore;
        count = 0;
    }
}

} // namespace tandrel
