#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandrel {

class Mp3Frames;

// Frames of an input that follow each other in its file.
struct Mp3FrameSpan {
    std::uint64_t offset = 0, bytes = 0;
    std::int64_t frames = 0;
    std::uint16_t crc = 0; // of its bytes (mp3::Crc16Arc from 0)
};

// Where a frame of an input is, and the CRC of the bytes of its span before it.
struct Mp3FramePlace {
    std::uint64_t offset = 0, bytes = 0;
    std::uint16_t crcBefore = 0;
};

// Gathers an input's frames, as its reader gives them, into spans of at most maxSpanBytes.
// The CRC is taken over runs of frames while the reader's buffer still holds them, which is
// many times faster than frame by frame; only the last `keep` frames, which the caller may
// take off again, are told apart. Bytes the buffer no longer holds are read again.
class Mp3FrameSpans {
public:
    Mp3FrameSpans(std::vector<Mp3FrameSpan> &spans, const Mp3Frames &frames, int fd,
                  std::size_t keep, std::uint64_t maxSpanBytes);
    // The frame the reader gave last, at offset; false when its bytes could not be read again.
    bool Add(std::uint64_t offset, std::uint64_t bytes);
    // Every frame added is in its span's CRC; false as for Add.
    bool Finish();
    // The last frames added (up to keep), oldest first; after Finish.
    std::vector<Mp3FramePlace> Last() const;

private:
    bool Flush();
    bool Crc(std::uint16_t &crc, std::uint64_t from, std::uint64_t count);

    std::vector<Mp3FrameSpan> &spans_;
    const Mp3Frames &frames_;
    int fd_;
    std::uint64_t maxSpanBytes_;
    std::uint64_t pendingFrom_ = 0;     // the last span's bytes from here are not in its CRC
    std::vector<Mp3FramePlace> recent_; // a ring of the last frames
    std::size_t next_ = 0, filled_ = 0;
    std::vector<std::uint8_t> reread_;
};

// Takes the spans' last `count` frames off; the first of them is at `first`.
void DropLastFrames(std::vector<Mp3FrameSpan> &spans, std::int64_t count,
                    const Mp3FramePlace &first);

} // namespace tandrel
