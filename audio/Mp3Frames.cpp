#include "audio/Mp3Frames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace tandrel {
Mp3Frames::Mp3Frames(int fd, std::uint64_t start, std::uint64_t end, std::size_t bufferBytes)
    : fd_(fd), end_(std::max(start, end)), pos_(start),
      buf_(std::max<std::size_t>(bufferBytes, 8192)) {}

bool Mp3Frames::Have(std::uint64_t at, std::size_t n) {
    if (at + n > end_)
        return false;
    if (at >= bufAt_ && at + n <= bufAt_ + bufLen_)
        return true;
    if (at >= bufAt_ && at < bufAt_ + bufLen_) {
        const std::size_t keep = std::size_t(bufAt_ + bufLen_ - at);
        std::memmove(buf_.data(), buf_.data() + (at - bufAt_), keep);
        bufLen_ = keep;
    } else {
        bufLen_ = 0;
    }
    bufAt_ = at;
    const std::size_t want = std::size_t(std::min<std::uint64_t>(buf_.size(), end_ - at));
    while (bufLen_ < want) {
        const ssize_t got =
            ::pread(fd_, buf_.data() + bufLen_, want - bufLen_, off_t(bufAt_ + bufLen_));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            // The file is shorter than it was when opened, or unreadable from here on.
            end_ = bufAt_ + bufLen_;
            shrunk_ = true;
            break;
        }
        bufLen_ += std::size_t(got);
    }
    return at + n <= end_;
}

bool Mp3Frames::HeaderAt(std::uint64_t at, std::uint32_t &header, Mp3Frame &frame) {
    if (!Have(at, 4))
        return false;
    const std::uint8_t *b = buf_.data() + (at - bufAt_);
    header =
        std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
    return ParseMp3Frame(header, frame);
}

// Whether `more` agreeing frames follow the frame at `at`, or the file ends after fewer.
bool Mp3Frames::Follows(std::uint64_t at, std::uint32_t header, const Mp3Frame &frame, int more) {
    std::uint64_t next = at + std::uint64_t(frame.bytes);
    for (int i = 0; i < more; ++i) {
        // The file ends here, or inside the frame just passed: nothing contradicts the run.
        if (next + 4 > end_)
            return true;
        std::uint32_t h;
        Mp3Frame f;
        if (!HeaderAt(next, h, f) || (h & kMp3StreamMask) != (header & kMp3StreamMask))
            return next + 4 > end_ && next <= end_;
        next += std::uint64_t(f.bytes);
    }
    return true;
}

void Mp3Frames::SkipToNextSync() {
    std::uint64_t at = pos_ + 1;
    while (Have(at, 1)) {
        const std::uint8_t *from = buf_.data() + (at - bufAt_);
        const std::size_t left = bufLen_ - std::size_t(at - bufAt_);
        const void *hit = std::memchr(from, 0xFF, left);
        if (hit) {
            at += std::uint64_t(static_cast<const std::uint8_t *>(hit) - from);
            break;
        }
        at += left;
    }
    pos_ = std::min(at, end_);
}

bool Mp3Frames::FindFirst(std::uint64_t within) {
    const std::uint64_t limit = pos_ + within;
    while (pos_ < end_ && pos_ < limit) {
        std::uint32_t h;
        Mp3Frame f;
        if (HeaderAt(pos_, h, f) && Follows(pos_, h, f, 2) && pos_ + f.bytes <= end_) {
            stream_ = h;
            synced_ = true;
            return true;
        }
        SkipToNextSync();
    }
    return false;
}

// The frame at pos_ is cut where two agreeing frames begin inside it, when the frame the
// header announces is not followed by one.
void Mp3Frames::CutAtInnerRun(std::uint32_t header, Mp3Frame &frame) {
    if (Follows(pos_, header, frame, 1))
        return;
    for (std::uint64_t at = pos_ + 4; at < pos_ + std::uint64_t(frame.bytes); ++at) {
        std::uint32_t h;
        Mp3Frame f;
        if (HeaderAt(at, h, f) && (h & kMp3StreamMask) == (header & kMp3StreamMask) &&
            Follows(at, h, f, 2)) {
            frame.bytes = int(at - pos_);
            return;
        }
    }
}

const std::uint8_t *Mp3Frames::Next(Mp3Frame &frame) {
    while (pos_ < end_) {
        std::uint32_t h;
        const bool valid = HeaderAt(pos_, h, frame);
        if (valid && synced_ && (h & kMp3StreamMask) == (stream_ & kMp3StreamMask)) {
            if (!Have(pos_, std::size_t(frame.bytes))) {
                partialEnd_ = !shrunk_;
                pos_ = end_;
                return nullptr;
            }
            if (cutShort_) {
                CutAtInnerRun(h, frame);
                Have(pos_, std::size_t(frame.bytes)); // the checks may have moved the buffer
            }
            const std::uint8_t *data = buf_.data() + (pos_ - bufAt_);
            pos_ += std::uint64_t(frame.bytes);
            return data;
        }
        if (valid && Follows(pos_, h, frame, 1) && pos_ + frame.bytes <= end_) {
            stream_ = h;
            synced_ = true;
            continue;
        }
        synced_ = false;
        const std::uint64_t before = pos_;
        SkipToNextSync();
        skipped_ += pos_ - before;
    }
    return nullptr;
}

Mp3FrameCount CountMp3Frames(int fd, std::uint64_t start, std::uint64_t end, std::uint64_t within) {
    Mp3FrameCount count;
    Mp3Frames frames(fd, start, end);
    if (!frames.FindFirst(within))
        return count;
    frames.CutShortFrames(); // as the decoder counts them
    Mp3Frame f;
    while (frames.Next(f)) {
        ++count.frames;
        count.samples += std::uint64_t(f.samples);
    }
    count.partialEnd = frames.Truncated();
    return count;
}

} // namespace tandrel
