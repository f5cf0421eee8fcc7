#pragma once

#include "join/OutputMetadata.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tandrel {

// Sample rate in Hz, channel count and bits per sample, as a list row states them.
struct PcmFormat {
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t bits = 0;
    bool operator==(const PcmFormat &) const = default;
};

// Bytes of one interleaved frame (whole bytes per sample); 0 for a nonsense format.
std::size_t FrameBytes(const PcmFormat &format);

// Bytes handed to PcmSink::TakeRange at a time: enough for the kernel to copy at full speed,
// few enough that progress moves and a stop is heard several times a second on a slow disk.
inline constexpr std::uint64_t kRangeBytes = 8u << 20;

// What a sink made of a range of a file: the bytes it took, and the file's errno when reading
// it failed. Fewer bytes than asked also when the file ends first, or when the sink failed
// (ok false, its message shown).
struct RangeResult {
    std::uint64_t bytes = 0;
    int readError = 0;
    bool ok = true;
};

// Receives PCM in order. A false result means the destination failed and has already
// shown its message; the caller stops feeding it.
class PcmSink {
public:
    virtual ~PcmSink() = default;
    virtual bool Write(const std::uint8_t *data, std::size_t count) = 0;
    // Whether TakeRange gains anything over reading and Write: the kernel copies for it.
    virtual bool TakesRanges() const { return false; }
    // Takes bytes [offset, offset + count) of the file fd (its position stays) as if they came
    // through Write; by default they do, read in pieces.
    virtual RangeResult TakeRange(int fd, std::uint64_t offset, std::uint64_t count);
    // Whether Write does work worth a thread of its own: an encoder that encodes as it is fed
    // on the caller's thread.
    virtual bool WorksInWrite() const { return false; }
};

// Reads bytes [offset, offset + count) of fd and hands them to sink.Write in pieces of at most
// piece bytes: PcmSink::TakeRange's way.
RangeResult WriteRange(PcmSink &sink, int fd, std::uint64_t offset, std::uint64_t count,
                       std::size_t piece);

// Where a final destination writes: an open descriptor (the sink uses a duplicate of it)
// and, for libraries that open files by name, a name that opens the same file.
struct OutputTarget {
    int fd = -1;
    std::string writePath; // empty when the file can only be reached through fd
    std::string display;   // the name the user chose, for messages
    bool seekable = true;
    bool synced = false; // synced to the disk when finished
};

// A final destination of the join: a WAV file or an encoder. One object serves one file.
class OutputSink : public PcmSink {
public:
    // Starts the file for PCM in format. expectedBytes is the amount of PCM to come when
    // known, else -1. False after the sink has shown its own message.
    virtual bool Open(const OutputTarget &target, const PcmFormat &format,
                      std::int64_t expectedBytes) = 0;
    // Largest byte count one Write should carry (the encoder's chunk, the writer's block).
    virtual std::size_t ChunkBytes() const = 0;
    // The tags, cover and chapters the file is to carry (as far as its format can), before
    // Open; chapters may be foreseen ones (metadata.chaptersFinal).
    virtual void SetMetadata(const OutputMetadata &) {}
    // The chapters as the join placed them, before Close.
    virtual void SetChapters(const std::vector<Chapter> &) {}
    // The join stops: work in flight may be dropped; Close follows.
    virtual void Stop() {}
    // Bytes taken by Write that are not in the file yet (an encoder's work in flight).
    virtual std::uint64_t Unfinished() const { return 0; }
    // Completes and closes the file; also called after a failed Write. False when the
    // file could not be completed (the message has been shown).
    virtual bool Close() = 0;
    RangeResult TakeRange(int fd, std::uint64_t offset, std::uint64_t count) override {
        return WriteRange(*this, fd, offset, count, ChunkBytes());
    }
};

} // namespace tandrel
