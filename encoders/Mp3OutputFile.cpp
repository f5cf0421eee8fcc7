#include "encoders/Mp3OutputFile.h"

#include "common/Messages.h"
#include "lang/MessageTexts.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace mp3 {

bool OutputFile::Open(int fd, const std::string &name, bool seekable, bool synced) {
    Close();
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0)
        return false;
    out_.Attach(own);
    if (synced)
        out_.WriteBackEvery(tandrel::kWriteBackBytes);
    name_ = name;
    seekable_ = seekable;
    base_ = seekable ? ::lseek(own, 0, SEEK_CUR) : 0;
    if (base_ < 0)
        seekable_ = false, base_ = 0;
    started_ = fillIn_ = error_ = exact_ = false;
    tagAt_ = -1;
    infoBytes_ = 0;
    audioBytes_ = 0;
    musicCrc_ = 0;
    sourceError_ = 0;
    return true;
}

bool OutputFile::Fail() {
    const int err = out_.Error() ? out_.Error() : EIO;
    if (!error_ && onError_)
        onError_(err);
    else if (!error_)
        tandrel::ShowMessage(
            tandrel::MsgText(tandrel::Msg::LameCaption),
            tandrel::MsgLines(tandrel::Msg::CannotWriteFile, name_, std::strerror(err)),
            tandrel::MsgIcon::None);
    error_ = true;
    return false;
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

// Ahead of the first audio frame (header_): the Info frame, or nothing on a pipe of unknown
// length.
void OutputFile::Start() {
    started_ = true;
    if (!tag_.empty()) {
        tagAt_ = base_;
        if (!out_.Write(tag_.data(), tag_.size())) {
            Fail();
            return;
        }
        base_ += std::int64_t(tag_.size());
    }
    InfoFields fields = fields_;
    if (seekable_) {
        fillIn_ = true; // a stand-in until Finish
    } else if (exact_) {
        fields = fields_;
    } else if (expected_ >= 0) {
        const FrameHeader h = StreamHeader();
        fields = Fields(StreamFrames(expected_, frameSamples_), expected_);
        // Exact as long as every frame keeps the stream's bitrate and padding (SplicedMp3).
        fields.bytes =
            std::uint32_t(InfoFrameLength(header_) +
                          StreamBytes(fields.frames, h.samples, fields_.kbps, h.sampleRate));
    } else {
        return;
    }
    const std::vector<std::uint8_t> info = BuildInfoFrame(header_, fields);
    infoBytes_ = info.size();
    if (!out_.Write(info.data(), info.size()))
        Fail();
}

// The first audio frame's header starts the output.
void OutputFile::Begin(const std::uint8_t *header) {
    std::memcpy(header_, header, 4);
    // The library may encode at less than the bitrate asked for (MPEG-2 and 2.5 rates have
    // lower ceilings); a frame raised at a seam only ever has more.
    const FrameHeader h = StreamHeader();
    if (const int kbps = Kbps(h.version, h.bitrateIndex);
        !exact_ && kbps > 0 && kbps < fields_.kbps)
        fields_.kbps = kbps;
    Start();
}

bool OutputFile::Write(const std::uint8_t *data, std::size_t count) {
    if (!out_.IsOpen() || error_)
        return false;
    if (count == 0)
        return true;
    if (!started_ && count >= 4)
        Begin(data);
    musicCrc_ = Crc16Arc(musicCrc_, data, count);
    audioBytes_ += count;
    return (!error_ && out_.Write(data, count)) || Fail();
}

bool OutputFile::CopyFrom(int fd, std::uint64_t offset, std::uint64_t count, std::uint16_t crc) {
    if (!out_.IsOpen() || error_)
        return false;
    if (count == 0)
        return true;
    if (!started_) {
        std::uint8_t header[4];
        const ssize_t got = count < 4 ? 0 : ::pread(fd, header, 4, off_t(offset));
        if (got != 4) {
            sourceError_ = got < 0 ? errno : EIO;
            return false;
        }
        Begin(header);
    }
    const tandrel::CopyResult r = out_.CopyFrom(fd, offset, count);
    musicCrc_ = Crc16ArcCombine(musicCrc_, crc, count);
    audioBytes_ += count;
    if (out_.Error() != 0)
        return Fail();
    if (r.bytes < count)
        sourceError_ = r.readError != 0 ? r.readError : EIO;
    return r.bytes == count;
}

bool OutputFile::ReplaceLeadingTag(const std::vector<std::uint8_t> &tag) {
    if (!out_.IsOpen() || error_ || !seekable_ || tagAt_ < 0 || tag.size() != tag_.size())
        return false;
    if (!out_.Flush() || !out_.WriteAt(std::uint64_t(tagAt_), tag.data(), tag.size()))
        return Fail();
    tag_ = tag;
    return true;
}

bool OutputFile::Finish(std::uint32_t frames, std::int64_t samples) {
    return FillIn(Fields(frames, samples));
}

bool OutputFile::Finish(const InfoFields &fields) {
    InfoFields f = fields;
    f.bytes = std::uint32_t(infoBytes_ + audioBytes_);
    f.musicCrc = musicCrc_;
    return FillIn(f);
}

bool OutputFile::FillIn(const InfoFields &fields) {
    if (!out_.IsOpen() || error_)
        return false;
    if (!out_.Flush())
        return Fail();
    if (!fillIn_)
        return true;
    const std::vector<std::uint8_t> info = BuildInfoFrame(header_, fields);
    return out_.WriteAt(std::uint64_t(base_), info.data(), info.size()) || Fail();
}

bool OutputFile::Close() {
    if (out_.IsOpen() && !out_.Close())
        Fail();
    return !error_;
}

} // namespace mp3
