#pragma once

#include "common/FileIo.h"
#include "encoders/Mp3Bitstream.h"
#include "encoders/Mp3InfoFrame.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mp3 {

// The MP3 file being written: audio bytes through a buffer, behind an Info frame that is a
// stand-in filled in by Finish on a seekable file, computed from the expected length on a
// pipe, and left out on a pipe of unknown length. A failed write shows WavToMp3's message once.
class OutputFile {
public:
    OutputFile() : out_(64 * 1024) {}
    ~OutputFile() { Close(); }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Where a failed write is told instead of WavToMp3's message (the errno is given).
    void SetErrorHandler(std::function<void(int)> handler) { onError_ = std::move(handler); }
    // Writes into a duplicate of fd; name is for messages. synced: the file is synced to the
    // disk when finished. False with errno set.
    bool Open(int fd, const std::string &name, bool seekable, bool synced = false);
    // What the Info frame says besides the counts. expectedSamples < 0: the length is unknown.
    void Describe(std::int64_t expectedSamples, int frameSamples, const InfoFields &fields) {
        expected_ = expectedSamples;
        frameSamples_ = frameSamples;
        fields_ = fields;
    }
    // Every field of the Info frame known before the audio (bytes and music CRC included, as
    // a first pass counted them): on a pipe it goes out as is, on a seekable file Finish
    // fills in the same. Replaces Describe.
    void DescribeExactly(const InfoFields &fields) {
        exact_ = true;
        fields_ = fields;
    }
    // A tag (ID3v2) to go ahead of the Info frame and the audio; before the first Write.
    void SetLeadingTag(std::vector<std::uint8_t> tag) { tag_ = std::move(tag); }
    // Writes tag over the leading one, on a seekable file and when it is of the same size
    // (the chapter times known at last); before Finish. False when it could not be.
    bool ReplaceLeadingTag(const std::vector<std::uint8_t> &tag);
    bool Write(const std::uint8_t *data, std::size_t count);
    // Appends count bytes of the file fd from offset (copied by the kernel where the files
    // allow it), whose CRC is crc (Crc16Arc from 0). False when fewer were copied: a failed
    // write is shown as Write's are, a source that ended or could not be read is not.
    bool CopyFrom(int fd, std::uint64_t offset, std::uint64_t count, std::uint16_t crc);
    // Flushes the buffer and, on a seekable file, fills in the Info frame for frames holding
    // samples.
    bool Finish(std::uint32_t frames, std::int64_t samples);
    // Flushes and fills in the Info frame with these fields, bytes and music CRC counted here.
    bool Finish(const InfoFields &fields);
    // False when a write failed or the file did not close.
    bool Close();

    // Whether the Info frame goes out ahead of the audio, its byte count foreseen (after
    // Describe).
    bool CountsAhead() const { return !seekable_ && (expected_ >= 0 || exact_); }
    bool Failed() const { return error_; }
    // Why a CopyFrom's source gave fewer bytes (EIO when it ended); 0 when none did.
    int SourceError() const { return sourceError_; }
    std::uint64_t AudioBytes() const { return audioBytes_; }
    // The first audio frame's header; valid once audio has been written.
    FrameHeader StreamHeader() const;

private:
    void Begin(const std::uint8_t *header);
    void Start();
    InfoFields Fields(std::uint32_t frames, std::int64_t samples) const;
    bool Fail();
    bool FillIn(const InfoFields &fields);

    tandrel::BufferedWriter out_;
    std::function<void(int)> onError_;
    std::string name_;
    bool seekable_ = false, started_ = false, fillIn_ = false, error_ = false, exact_ = false;
    std::int64_t base_ = 0, expected_ = -1;
    std::int64_t tagAt_ = -1; // where the leading tag was written
    std::vector<std::uint8_t> tag_;
    int frameSamples_ = 1152;
    InfoFields fields_;
    std::uint8_t header_[4] = {};
    std::size_t infoBytes_ = 0;
    std::uint64_t audioBytes_ = 0;
    std::uint16_t musicCrc_ = 0;
    int sourceError_ = 0;
};

} // namespace mp3
