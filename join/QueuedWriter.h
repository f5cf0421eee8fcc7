#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace tandrel {

// Where a join's bytes go: a file, a count of them, an encoder.
class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    virtual bool Write(const std::uint8_t *data, std::size_t count) = 0;
    // Appends count bytes of the file fd from offset, whose CRC is crc (mp3::Crc16Arc from 0);
    // false when fewer could be. Read and written here; a writer that can have the kernel copy
    // them, or needs only their count and CRC, does that instead.
    virtual bool CopyFrom(int fd, std::uint64_t offset, std::uint64_t count, std::uint16_t crc);
};

// Hands the bytes to another writer on a thread of its own, so that what it does (writes, a
// checksum, an encoder) runs beside the reading and decoding; a few chunks are held at most.
class QueuedWriter : public FrameWriter {
public:
    // Chunks of chunkBytes, kChunks of them queued at most; without threaded, every write goes
    // straight through.
    QueuedWriter(FrameWriter &inner, bool threaded, std::size_t chunkBytes = 1 << 20);
    ~QueuedWriter() { Finish(); }
    bool Write(const std::uint8_t *data, std::size_t count) override;
    // The bytes are copied on the writing thread, from a duplicate of fd.
    bool CopyFrom(int fd, std::uint64_t offset, std::uint64_t count, std::uint16_t crc) override;
    // Waits until everything so far is written (the thread goes on); false when a write failed.
    bool Drain();
    // Everything written; false when a write failed.
    bool Finish();
    // Copies (CopyFrom) made in full so far.
    std::size_t CopiesDone() const { return copiesDone_; }
    // What is queued and not written yet is dropped, and what comes after (a stopped join).
    void Drop() { dropping_ = true; }

private:
    static constexpr std::size_t kChunks = 4;
    // Bytes to write, or bytes of a file to copy (fd not negative; closed once copied).
    struct Item {
        std::vector<std::uint8_t> bytes;
        int fd = -1;
        std::uint64_t offset = 0, count = 0;
        std::uint16_t crc = 0;
    };
    void Push();
    void Enqueue(Item item);
    bool WriteItem(Item &item);
    void Loop();

    FrameWriter &inner_;
    std::size_t chunkBytes_;
    std::vector<std::uint8_t> current_;
    std::deque<Item> queue_;
    std::vector<std::vector<std::uint8_t>> spare_;
    std::mutex mutex_;
    std::condition_variable wake_, room_; // room_ also tells of a chunk written
    bool done_ = false;
    bool writing_ = false;
    std::atomic<bool> failed_{false};
    std::atomic<bool> dropping_{false};
    std::atomic<std::size_t> copiesDone_{0};
    std::thread thread_;
};

} // namespace tandrel
