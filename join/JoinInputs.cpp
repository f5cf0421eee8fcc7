#include "join/JoinInputs.h"

#include "audio/FileAccess.h"
#include "audio/Probe.h"
#include "audio/Sniff.h"
#include "audio/WavChunks.h"
#include "common/Messages.h"
#include "join/OutputStage.h"
#include "lang/MessageTexts.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace tandrel {
namespace {

InputResult Fail(const std::string &text) {
    ShowMessage(MsgText(Msg::ErrorCaption), text);
    return InputResult::Failed;
}

std::string Seconds(std::uint64_t bytes, const PcmFormat &f) {
    const std::size_t frame = FrameBytes(f);
    if (frame == 0 || f.sampleRate <= 0)
        return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(bytes / frame) / f.sampleRate);
    return text;
}

std::string FormatText(const PcmFormat &f) {
    return MsgText(
        f.channels == 1 ? Msg::FormatOneChannel : Msg::FormatChannels,
        {std::to_string(f.sampleRate), std::to_string(f.channels), std::to_string(f.bits)});
}

InputResult NotValidWave(const std::string &path) {
    const std::string why = WhyUnreadable(path);
    return Fail(MsgText(Msg::CannotJoin, {path, MsgText(Msg::InputNotValidWave) +
                                                    (why.empty() ? "" : " (" + why + ")")}));
}

// The whole frames of the data chunk (at dataOffset, total bytes) as ranges of the file;
// consumed counts what went. Done when they all went.
InputResult CopyFrames(const JoinInput &input, int fd, std::uint64_t dataOffset,
                       std::uint64_t total, InputBlocks &blocks, std::uint64_t &consumed) {
    const std::size_t frame = FrameBytes(input.format);
    const std::uint64_t whole = frame ? total / frame * frame : 0;
    while (consumed < whole) {
        const std::uint64_t want = std::min(kRangeBytes, whole - consumed);
        const RangeResult r = blocks.TakeRange(fd, dataOffset + consumed, want);
        consumed += r.bytes;
        if (!r.ok)
            return InputResult::Failed;
        if (r.readError != 0)
            return Fail(MsgText(Msg::CouldNotRead, {input.path, SystemError(r.readError)}));
        if (r.bytes < want)
            return ReportEndedEarly(input, total, consumed);
        if (blocks.AfterBlock(Percent(consumed, total)))
            return InputResult::Stopped;
    }
    return InputResult::Done;
}

} // namespace

InputReader ReaderOf(const JoinInput &input) {
    return input.reader != InputReader::None ? input.reader : ReaderFor(input.path);
}

InputResult ReportCannotOpen(const std::string &path, const std::string &otherwise) {
    const std::string why = WhyUnreadable(path);
    return Fail(MsgText(Msg::CouldNotOpen, {path, why.empty() ? otherwise : why}));
}

std::string EndedEarlyText(const JoinInput &input, std::uint64_t expectedBytes,
                           std::uint64_t actualBytes) {
    const std::string why =
        MsgText(Msg::InputEndedEarly,
                {std::to_string(actualBytes), std::to_string(expectedBytes),
                 Seconds(actualBytes, input.format), Seconds(expectedBytes, input.format)});
    return MsgText(Msg::CannotJoin, {input.path, why});
}

InputResult ReportEndedEarly(const JoinInput &input, std::uint64_t expectedBytes,
                             std::uint64_t actualBytes) {
    return Fail(EndedEarlyText(input, expectedBytes, actualBytes));
}

InputResult ReportFormatChanged(const JoinInput &input, const PcmFormat &now) {
    return Fail(MsgText(
        Msg::CannotJoin,
        {input.path, MsgText(Msg::InputChanged, {FormatText(now), FormatText(input.format)})}));
}

InputResult ReadWavInput(const JoinInput &input, std::size_t blockBytes, BlockReader &reader,
                         InputBlocks &blocks) {
    const std::string &path = input.path;
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return ReportCannotOpen(path, SystemError(errno));
    FdGuard closer(fd);

    WavChunks c;
    if (!ReadWavChunks(fd, size, c) || !WavRateInRange(c.sampleRate))
        return NotValidWave(path);
    if (c.formatTag != kWavPcmTag)
        return Fail(MsgText(Msg::CannotJoin, {path, MsgText(Msg::InputCompressedWave)}));
    const PcmFormat now{std::int32_t(c.sampleRate), c.channels, c.bits};
    if (now != input.format)
        return ReportFormatChanged(input, now);
    const std::uint64_t expected =
        input.expectedBytes >= 0 ? std::uint64_t(input.expectedBytes) : c.availableBytes;
    if (c.availableBytes < expected)
        return ReportEndedEarly(input, expected, c.availableBytes);
    // A file that grew since it was listed is joined whole: nothing of it is dropped.
    const std::uint64_t total = c.availableBytes;
    std::uint64_t consumed = 0;
    if (blocks.TakesRanges()) {
        const InputResult copied = CopyFrames(input, fd, c.dataOffset, total, blocks, consumed);
        if (copied != InputResult::Done)
            return copied;
    }
    // What is left: everything, or a last incomplete frame.
    if (::lseek(fd, off_t(c.dataOffset + consumed), SEEK_SET) < 0)
        return Fail(MsgText(Msg::CouldNotRead, {path, SystemError(errno)}));
    reader.Attach(fd);
    while (consumed < total) {
        const std::uint8_t *data;
        const std::size_t want = std::size_t(std::min<std::uint64_t>(blockBytes, total - consumed));
        const std::size_t n = reader.Next(want, &data);
        if (n == 0) {
            if (reader.Error() != 0)
                return Fail(MsgText(Msg::CouldNotRead, {path, SystemError(reader.Error())}));
            return ReportEndedEarly(input, total, consumed);
        }
        consumed += n;
        if (!blocks.Block(data, n))
            return InputResult::Failed;
        if (blocks.AfterBlock(Percent(consumed, total)))
            return InputResult::Stopped;
    }
    return InputResult::Done;
}

} // namespace tandrel
