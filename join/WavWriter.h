#pragma once

#include "common/FileIo.h"
#include "join/OutputStage.h"
#include "join/PcmTypes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tandrel {

// Largest data chunk the 32-bit RIFF sizes can describe; larger data is written as RF64.
inline constexpr std::uint64_t kClassicWavDataLimit = 0xFFFFFFFFull - 36;
inline constexpr std::size_t kWavHeaderBytes = 44;
inline constexpr std::size_t kRf64HeaderBytes = 80;
inline constexpr std::size_t kWavBlockBytes = 10240;

// The canonical 44-byte header for dataBytes of PCM (sizes as the finished file has them,
// a pad byte after odd data and trailingBytes of chunks after it counted in the RIFF size).
std::array<std::uint8_t, kWavHeaderBytes>
MakeWavHeader(const PcmFormat &format, std::uint32_t dataBytes, std::uint32_t trailingBytes = 0);
// The RF64 header: "RF64", a ds64 chunk with the 64-bit sizes and frame count, "fmt ", "data".
std::array<std::uint8_t, kRf64HeaderBytes>
MakeRf64Header(const PcmFormat &format, std::uint64_t dataBytes, std::uint64_t trailingBytes = 0);

// Writes a WAV file from PCM handed to it block by block: a placeholder header first, the
// sizes at Close. Data above classicLimit makes the file RF64 (chosen at Open when the
// expected size says so, otherwise by moving the data at Close). An output that cannot seek
// gets the expected sizes up front, or the largest ones when they are not known.
// Tags and chapters follow the data (see WavMetadataChunks), counted in the RIFF size.
class WavFileWriter : public OutputSink {
public:
    explicit WavFileWriter(std::uint64_t classicLimit = kClassicWavDataLimit);
    bool Open(const OutputTarget &target, const PcmFormat &format,
              std::int64_t expectedBytes) override;
    std::size_t ChunkBytes() const override { return kWavBlockBytes; }
    bool Write(const std::uint8_t *data, std::size_t count) override;
    // A file written from its start: the kernel may copy ranges into it.
    bool TakesRanges() const override { return seekable_ && !failed_; }
    RangeResult TakeRange(int fd, std::uint64_t offset, std::uint64_t count) override;
    bool Close() override;
    void SetMetadata(const OutputMetadata &metadata) override;
    void SetChapters(const std::vector<Chapter> &chapters) override;
    std::uint64_t DataBytes() const { return data_; }
    // Asked between the steps of moving the data for RF64; a stop there leaves the file
    // unusable (Interrupted()), to be discarded.
    void SetStopCheck(std::function<bool()> shouldStop) { shouldStop_ = std::move(shouldStop); }
    bool Interrupted() const { return interrupted_; }

private:
    bool Failed(int err);
    bool MoveDataForRf64();
    std::vector<std::uint8_t> Trailer(std::uint64_t dataBytes) const;
    bool WriteEnd(std::uint64_t pad);

    std::string display_;
    std::function<bool()> shouldStop_;
    bool interrupted_ = false;
    bool seekable_ = true;
    std::uint64_t limit_;
    PcmFormat format_;
    BufferedWriter out_;
    bool rf64_ = false;
    bool failed_ = false;
    std::uint64_t data_ = 0;
    std::vector<std::pair<std::string, std::string>> tags_;
    std::vector<Chapter> chapters_; // final ones only
    // What follows the data: made at Close, or at Open when the header cannot be gone back to.
    std::vector<std::uint8_t> trailer_;
    std::int64_t expected_ = -1;
};

struct WavOutputOptions {
    std::uint64_t classicLimit = kClassicWavDataLimit;
    // After a stop, remove the partial output instead of giving it the chosen name.
    bool discardIfStopped = false;
};

// Writes the headerless PCM file tempPath, in format, out as the WAV file outputPath,
// reporting progress after every 10240-byte block (every range the kernel copies, where it
// can: see CopyToSink). False when the output could not be
// created or written (the message has been shown); true also after a stop.
bool WriteWavOutput(const std::string &tempPath, const PcmFormat &format,
                    const std::string &outputPath, const ProgressReport &progress,
                    const WavOutputOptions &options = {});
// The same for an already open PCM file, from its current position (size bytes).
StageResult WriteWavOutput(int pcmFd, std::uint64_t size, const std::string &pcmName,
                           const PcmFormat &format, const std::string &outputPath,
                           const ProgressReport &progress, const WavOutputOptions &options = {});

} // namespace tandrel
