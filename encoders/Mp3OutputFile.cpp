#include "encoders/Mp3OutputFile.h"

#include "common/Messages.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mp3 {
namespace {

constexpr std::size_t kBuffer = 64 * 1024;

} // namespace

bool OutputFile::Open(int fd, const std::string &name, bool seekable) {
    Close();
    fd_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (fd_ < 0)
        return false;
    name_ = name;
    seekable_ = seekable;
    base_ = seekable ? ::lseek(fd_, 0, SEEK_CUR) : 0;
    if (base_ < 0)
        seekable_ = false, base_ = 0;
    started_ = fillIn_ = error_ = false;
    infoBytes_ = 0;
    audioBytes_ = 0;
    musicCrc_ = 0;
    buffer_.clear();
    buffer_.reserve(kBuffer);
    return true;
}

void OutputFile::Fail(int err) {
    if (!error_)
        tandrel::ShowMessage("Lame Encoder",
                             "Could not write the file.\n" + name_ + "\n" +
                                 std::strerror(err ? err : EIO),
                             tandrel::MsgIcon::None);
    error_ = true;
}

bool OutputFile::RawWrite(const std::uint8_t *data, std::size_t count) {
    while (count > 0 && !error_) {
        const ssize_t n = ::write(fd_, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : ENOSPC);
            break;
        }
        data += n;
        count -= std::size_t(n);
    }
    return !error_;
}

FrameHeader OutputFile::StreamHeader() const {
    FrameHeader h;
    ParseHeader(header_, 4, h);
    return h;
}

InfoFields OutputFile::Fields(std::uint32_t frames, std::int64_t samples) const {
    InfoFields f = fields_;
    f.frames = frames;
    f.padding = StreamPadding(samples, frames, frameSamples_);
    f.bytes = std::uint32_t(infoBytes_ + audioBytes_);
    f.musicCrc = musicCrc_;
    return f;
}

void OutputFile::Start(const std::uint8_t *first) {
    started_ = true;
    std::memcpy(header_, first, 4);
    InfoFields fields = fields_;
    if (seekable_) {
        fillIn_ = true; // a stand-in until Finish
    } else if (expected_ >= 0) {
        const FrameHeader h = StreamHeader();
        fields = Fields(StreamFrames(expected_, frameSamples_), expected_);
        // The bytes can only be foreseen from the nominal bitrate.
        fields.bytes =
            std::uint32_t(InfoFrameLength(header_) +
                          std::uint64_t(fields.frames) * std::uint64_t(h.samples) / 8 *
                              std::uint64_t(fields_.kbps) * 1000 / std::uint64_t(h.sampleRate));
    } else {
        return;
    }
    const std::vector<std::uint8_t> info = BuildInfoFrame(header_, fields);
    infoBytes_ = info.size();
    RawWrite(info.data(), info.size());
}

bool OutputFile::Write(const std::uint8_t *data, std::size_t count) {
    if (fd_ < 0 || error_)
        return false;
    if (count == 0)
        return true;
    if (audioBytes_ == 0 && count >= 4) {
        std::memcpy(header_, data, 4); // StreamHeader holds while the audio is buffered
        // The library may encode at less than the bitrate asked for (MPEG-2 and 2.5 rates
        // have lower ceilings); a frame raised at a seam only ever has more.
        const FrameHeader h = StreamHeader();
        if (const int kbps = Kbps(h.version, h.bitrateIndex); kbps > 0 && kbps < fields_.kbps)
            fields_.kbps = kbps;
    }
    musicCrc_ = Crc16Arc(musicCrc_, data, count);
    audioBytes_ += count;
    if (buffer_.size() + count > kBuffer && !Flush())
        return false;
    if (count < kBuffer) {
        buffer_.insert(buffer_.end(), data, data + count);
        return true;
    }
    if (!started_)
        Start(data);
    return RawWrite(data, count);
}

bool OutputFile::Flush() {
    if (buffer_.empty())
        return !error_;
    if (!started_)
        Start(buffer_.data());
    const bool ok = RawWrite(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool OutputFile::Finish(std::uint32_t frames, std::int64_t samples) {
    if (fd_ < 0 || !Flush())
        return false;
    if (!fillIn_)
        return true;
    const std::vector<std::uint8_t> info = BuildInfoFrame(header_, Fields(frames, samples));
    for (std::size_t done = 0; done < info.size();) {
        const ssize_t n = ::pwrite(fd_, info.data() + done, info.size() - done,
                                   off_t(base_ + std::int64_t(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : EIO);
            return false;
        }
        done += std::size_t(n);
    }
    return true;
}

bool OutputFile::Close() {
    if (fd_ < 0)
        return !error_;
    if (::close(fd_) != 0)
        Fail(errno);
    fd_ = -1;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return !error_;
}

} // namespace mp3
