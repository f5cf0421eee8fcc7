#include "join/WavWriter.h"

#include "common/Messages.h"
#include "join/WavMetadata.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tandrel {
namespace {

template <std::size_t N> struct HeaderBytes {
    std::array<std::uint8_t, N> bytes{};
    std::size_t at = 0;
    void Id(const char *id) {
        std::memcpy(bytes.data() + at, id, 4);
        at += 4;
    }
    void Le(std::uint64_t v, int width) {
        for (int i = 0; i < width; ++i)
            bytes[at++] = std::uint8_t(v >> (8 * i));
    }
};

template <std::size_t N> void PutFormatChunk(HeaderBytes<N> &h, const PcmFormat &format) {
    const std::uint32_t blockAlign = std::uint32_t(format.channels * format.bits / 8);
    h.Id("fmt ");
    h.Le(16, 4);
    h.Le(1, 2);
    h.Le(std::uint32_t(format.channels), 2);
    h.Le(std::uint32_t(format.sampleRate), 4);
    h.Le(std::uint32_t(format.sampleRate) * blockAlign, 4);
    h.Le(blockAlign, 2);
    h.Le(std::uint32_t(format.bits), 2);
}

} // namespace

std::array<std::uint8_t, kWavHeaderBytes>
MakeWavHeader(const PcmFormat &format, std::uint32_t dataBytes, std::uint32_t trailingBytes) {
    HeaderBytes<kWavHeaderBytes> h;
    h.Id("RIFF");
    h.Le(std::uint32_t(std::uint64_t(dataBytes) + 36 + (dataBytes & 1) + trailingBytes), 4);
    h.Id("WAVE");
    PutFormatChunk(h, format);
    h.Id("data");
    h.Le(dataBytes, 4);
    return h.bytes;
}

std::array<std::uint8_t, kRf64HeaderBytes>
MakeRf64Header(const PcmFormat &format, std::uint64_t dataBytes, std::uint64_t trailingBytes) {
    const std::uint64_t blockAlign = std::uint64_t(format.channels * format.bits / 8);
    HeaderBytes<kRf64HeaderBytes> h;
    h.Id("RF64");
    h.Le(0xFFFFFFFF, 4);
    h.Id("WAVE");
    h.Id("ds64");
    h.Le(28, 4);
    h.Le(kRf64HeaderBytes - 8 + dataBytes + (dataBytes & 1) + trailingBytes, 8);
    h.Le(dataBytes, 8);
    h.Le(blockAlign ? dataBytes / blockAlign : 0, 8);
    h.Le(0, 4);
    PutFormatChunk(h, format);
    h.Id("data");
    h.Le(0xFFFFFFFF, 4);
    return h.bytes;
}

WavFileWriter::WavFileWriter(std::uint64_t classicLimit) : limit_(classicLimit) {}

bool WavFileWriter::Failed(int err) {
    if (!failed_)
        ShowOutputError(display_, err);
    failed_ = true;
    return false;
}

void WavFileWriter::SetMetadata(const OutputMetadata &metadata) {
    tags_ = metadata.tags;
    chapters_.clear();
    if (metadata.writeChapters && metadata.chaptersFinal)
        chapters_ = metadata.chapters;
}

void WavFileWriter::SetChapters(const std::vector<Chapter> &chapters) {
    chapters_ = chapters;
}

std::vector<std::uint8_t> WavFileWriter::Trailer(std::uint64_t dataBytes) const {
    const std::size_t frameBytes = FrameBytes(format_);
    return WavMetadataChunks(tags_, chapters_, frameBytes ? dataBytes / frameBytes : 0);
}

bool WavFileWriter::Open(const OutputTarget &target, const PcmFormat &format,
                         std::int64_t expectedBytes) {
    display_ = target.display;
    seekable_ = target.seekable;
    format_ = format;
    data_ = 0;
    expected_ = expectedBytes;
    failed_ = interrupted_ = false;
    const int fd = ::fcntl(target.fd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0)
        return Failed(errno);
    out_.Attach(fd);
    if (target.synced)
        out_.WriteBackEvery(kWriteBackBytes);
    // A pipe's header counts the chunks after the data, so they are made now from what is
    // known: the tags, and the chapters only when they are final already (else none there).
    std::vector<std::uint8_t> trailer;
    if (expectedBytes >= 0)
        trailer = Trailer(std::uint64_t(expectedBytes));
    rf64_ = expectedBytes > 0 &&
            std::uint64_t(expectedBytes) + (expectedBytes & 1) + trailer.size() > limit_;
    trailer_.clear();
    if (!seekable_)
        trailer_ = std::move(trailer);
    bool ok;
    if (rf64_) {
        ok = out_.Write(
            MakeRf64Header(format, seekable_ ? 0 : std::uint64_t(expectedBytes), trailer_.size())
                .data(),
            kRf64HeaderBytes);
    } else if (seekable_) {
        // Both sizes stay 0 until the data is complete.
        auto header = MakeWavHeader(format, 0);
        std::memset(header.data() + 4, 0, 4);
        ok = out_.Write(header.data(), header.size());
    } else {
        // No going back: the sizes as they will be, or the largest ones when unknown.
        auto header =
            MakeWavHeader(format, expectedBytes >= 0 ? std::uint32_t(expectedBytes) : 0xFFFFFFFFu,
                          std::uint32_t(trailer_.size()));
        if (expectedBytes < 0)
            std::memset(header.data() + 4, 0xFF, 4);
        ok = out_.Write(header.data(), header.size());
    }
    return ok || Failed(out_.Error());
}

bool WavFileWriter::Write(const std::uint8_t *data, std::size_t count) {
    if (failed_)
        return false;
    if (!out_.Write(data, count))
        return Failed(out_.Error());
    data_ += count;
    return true;
}

RangeResult WavFileWriter::TakeRange(int fd, std::uint64_t offset, std::uint64_t count) {
    if (failed_)
        return {0, 0, false};
    const CopyResult copied = out_.CopyFrom(fd, offset, count);
    data_ += copied.bytes;
    if (out_.Error() != 0)
        return {copied.bytes, 0, Failed(out_.Error())};
    return {copied.bytes, copied.readError, true};
}

bool WavFileWriter::MoveDataForRf64() {
    constexpr std::size_t kChunk = 1 << 20;
    std::vector<std::uint8_t> buffer(kChunk);
    const int fd = out_.Fd();
    std::uint64_t left = data_;
    while (left > 0) {
        if (shouldStop_ && shouldStop_()) {
            interrupted_ = failed_ = true;
            return false;
        }
        const std::size_t n = std::size_t(std::min<std::uint64_t>(left, kChunk));
        left -= n;
        if (::pread(fd, buffer.data(), n, off_t(kWavHeaderBytes + left)) != ssize_t(n))
            return Failed(errno ? errno : EIO);
        if (::pwrite(fd, buffer.data(), n, off_t(kRf64HeaderBytes + left)) != ssize_t(n))
            return Failed(errno ? errno : EIO);
    }
    rf64_ = true;
    return true;
}

// The pad byte after odd data and the chunks that follow, after the data wherever it now lies.
bool WavFileWriter::WriteEnd(std::uint64_t pad) {
    std::vector<std::uint8_t> end(pad, 0);
    // A pipe's data of another size than its header gave is damaged already: only the pad.
    if (seekable_ || data_ == std::uint64_t(expected_))
        end.insert(end.end(), trailer_.begin(), trailer_.end());
    if (end.empty())
        return true;
    if (!seekable_)
        return out_.Write(end.data(), end.size()) && out_.Flush();
    return out_.WriteAt((rf64_ ? kRf64HeaderBytes : kWavHeaderBytes) + data_, end.data(),
                        end.size());
}

bool WavFileWriter::Close() {
    if (!out_.IsOpen())
        return !failed_;
    const std::uint64_t pad = data_ & 1;
    if (seekable_)
        trailer_ = Trailer(data_);
    bool ok = !failed_ && out_.Flush();
    if (ok && seekable_ && !rf64_ && data_ + pad + trailer_.size() > limit_) {
        errno = 0;
        ok = MoveDataForRf64();
    }
    ok = ok && WriteEnd(pad);
    if (ok && seekable_) {
        ok = rf64_ ? out_.WriteAt(0, MakeRf64Header(format_, data_, trailer_.size()).data(),
                                  kRf64HeaderBytes)
                   : out_.WriteAt(0,
                                  MakeWavHeader(format_, std::uint32_t(data_),
                                                std::uint32_t(trailer_.size()))
                                      .data(),
                                  kWavHeaderBytes);
    }
    const bool closed = out_.Close();
    if (!failed_ && (!ok || !closed))
        Failed(out_.Error() ? out_.Error() : EIO);
    return !failed_;
}

StageResult WriteWavOutput(int pcmFd, std::uint64_t size, const std::string &pcmName,
                           const PcmFormat &format, const std::string &outputPath,
                           const ProgressReport &progress, const WavOutputOptions &options) {
    WavFileWriter writer(options.classicLimit);
    return WriteOutput(pcmFd, size, pcmName, writer, format, outputPath, progress,
                       options.discardIfStopped);
}

bool WriteWavOutput(const std::string &tempPath, const PcmFormat &format,
                    const std::string &outputPath, const ProgressReport &progress,
                    const WavOutputOptions &options) {
    const int fd = ::open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        ShowMessage(MsgText(Msg::ErrorCaption), MsgText(Msg::CouldNotOpenFile, {tempPath}));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    const StageResult result = WriteWavOutput(fd, std::uint64_t(st.st_size), tempPath, format,
                                              outputPath, progress, options);
    ::close(fd);
    return result != StageResult::Failed;
}

} // namespace tandrel
