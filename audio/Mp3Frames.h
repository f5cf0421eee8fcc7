#pragma once

#include "audio/Mp3Header.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandrel {

// Splits the audio part of an MP3 file into whole layer III frames, reading through a buffer
// of fixed size. Bytes that are not frames are skipped: after damage the stream is found
// again where two frames follow each other with agreeing headers.
class Mp3Frames {
public:
    Mp3Frames(int fd, std::uint64_t start, std::uint64_t end, std::size_t bufferBytes = 65536);

    // Moves to the first frame within `within` bytes that two more agreeing frames follow
    // (or fewer, when the file ends with or inside them); false when there is none.
    bool FindFirst(std::uint64_t within);
    // The next frame, valid until the next call; null at the end.
    const std::uint8_t *Next(Mp3Frame &frame);
    // From now on a frame that the next one does not follow, but a run of frames begins inside
    // it, is given cut where that run begins (a frame left short by damage).
    void CutShortFrames() { cutShort_ = true; }
    // Where the next frame is looked for.
    std::uint64_t Position() const { return pos_; }

    // The file ended inside a frame its header announced, or shrank while being read.
    bool Truncated() const { return partialEnd_ || shrunk_; }
    // The file held less than it did when these frames were set up.
    bool Shrunk() const { return shrunk_; }
    // Bytes passed over between frames after the first one.
    std::uint64_t SkippedBytes() const { return skipped_; }

    // The file's bytes from offset at, while the buffer still holds count of them; else null.
    const std::uint8_t *Buffered(std::uint64_t at, std::size_t count) const {
        return at >= bufAt_ && at + count <= bufAt_ + bufLen_ ? buf_.data() + (at - bufAt_)
                                                              : nullptr;
    }
    // How many bytes the buffer holds from where the next frame is looked for.
    std::size_t BufferedAhead() const {
        return pos_ >= bufAt_ && pos_ < bufAt_ + bufLen_ ? std::size_t(bufAt_ + bufLen_ - pos_) : 0;
    }

private:
    bool Have(std::uint64_t at, std::size_t n);
    bool HeaderAt(std::uint64_t at, std::uint32_t &header, Mp3Frame &frame);
    bool Follows(std::uint64_t at, std::uint32_t header, const Mp3Frame &frame, int more);
    void SkipToNextSync();
    void CutAtInnerRun(std::uint32_t header, Mp3Frame &frame);

    int fd_;
    std::uint64_t end_;
    std::uint64_t pos_;
    std::vector<std::uint8_t> buf_;
    std::uint64_t bufAt_ = 0;
    std::size_t bufLen_ = 0;
    std::uint32_t stream_ = 0;
    bool synced_ = false;
    bool partialEnd_ = false;
    bool shrunk_ = false;
    bool cutShort_ = false;
    std::uint64_t skipped_ = 0;
};

// The whole frames of an MP3 file's audio part, counted without decoding.
struct Mp3FrameCount {
    std::uint64_t frames = 0;
    std::uint64_t samples = 0;
    bool partialEnd = false; // the last frame is cut off
};
Mp3FrameCount CountMp3Frames(int fd, std::uint64_t start, std::uint64_t end, std::uint64_t within);

} // namespace tandrel
