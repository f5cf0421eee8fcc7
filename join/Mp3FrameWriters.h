#pragma once

#include "encoders/Mp3Bitstream.h"
#include "encoders/Mp3OutputFile.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Where the frame-keeping MP3 join writes its frames.
namespace tandrel {

// Where the joined frames go: the output file, or a count of them ahead of it.
class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    virtual bool Write(const std::uint8_t *data, std::size_t count) = 0;
};

class CountingWriter : public FrameWriter {
public:
    bool Write(const std::uint8_t *data, std::size_t count) override {
        crc = mp3::Crc16Arc(crc, data, count);
        bytes += count;
        return true;
    }
    std::uint16_t crc = 0;
    std::uint64_t bytes = 0;
};

class FileWriter : public FrameWriter {
public:
    explicit FileWriter(mp3::OutputFile &file) : file_(file) {}
    bool Write(const std::uint8_t *data, std::size_t count) override {
        return file_.Write(data, count);
    }

private:
    mp3::OutputFile &file_;
};

// Hands the frames to another writer on a thread of its own, so that the music CRC and the
// writes run beside the reading and the bridges; a few chunks are held at most.
class QueuedWriter : public FrameWriter {
public:
    QueuedWriter(FrameWriter &inner, bool threaded);
    ~QueuedWriter() { Finish(); }
    bool Write(const std::uint8_t *data, std::size_t count) override;
    // Everything written; false when a write failed.
    bool Finish();

private:
    static constexpr std::size_t kChunk = 1 << 20, kChunks = 4;
    void Push();
    void Loop();

    FrameWriter &inner_;
    std::vector<std::uint8_t> current_;
    std::deque<std::vector<std::uint8_t>> queue_;
    std::vector<std::vector<std::uint8_t>> spare_;
    std::mutex mutex_;
    std::condition_variable wake_, room_;
    bool done_ = false;
    std::atomic<bool> failed_{false};
    std::thread thread_;
};

} // namespace tandrel
