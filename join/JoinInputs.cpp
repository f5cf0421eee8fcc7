#include "join/JoinInputs.h"

#include "common/Messages.h"
#include "join/OutputStage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tandrel {
namespace {

std::uint32_t Le32(const std::uint8_t *p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

InputResult Fail(const std::string &text) {
    ShowMessage("Error", text);
    return InputResult::Failed;
}

class FdCloser {
public:
    explicit FdCloser(int fd) : fd_(fd) {}
    ~FdCloser() { ::close(fd_); }

private:
    int fd_;
};

std::string Seconds(std::uint64_t bytes, const PcmFormat &f) {
    const std::size_t frame = FrameBytes(f);
    if (frame == 0 || f.sampleRate <= 0)
        return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(bytes / frame) / f.sampleRate);
    return text;
}

std::string FormatText(const PcmFormat &f) {
    return std::to_string(f.sampleRate) + " Hz, " + std::to_string(f.channels) + " channel" +
           (f.channels == 1 ? "" : "s") + ", " + std::to_string(f.bits) + " bits";
}

} // namespace

InputResult ReportEndedEarly(const JoinInput &input, std::uint64_t expectedBytes,
                             std::uint64_t actualBytes) {
    return Fail("Can not join '" + input.path + "': it ended after " + std::to_string(actualBytes) +
                " of the " + std::to_string(expectedBytes) +
                " bytes of audio it held when it was added (" + Seconds(actualBytes, input.format) +
                " of " + Seconds(expectedBytes, input.format) + " seconds)");
}

InputResult ReportFormatChanged(const JoinInput &input, const PcmFormat &now) {
    return Fail("Can not join '" + input.path + "': it has changed since it was added (now " +
                FormatText(now) + "; the list says " + FormatText(input.format) + ")");
}

InputResult ReadWavInput(const JoinInput &input, std::size_t blockBytes, BlockReader &reader,
                         InputBlocks &blocks) {
    const std::string &path = input.path;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Fail("Could not open '" + path + "'");
    FdCloser closer(fd);
    reader.Attach(fd);

    std::uint8_t riff[12], fmt[24];
    if (!reader.ReadExact(riff, sizeof riff) || !reader.ReadExact(fmt, sizeof fmt) ||
        std::memcmp(fmt, "fmt ", 4) != 0)
        return Fail("This is not a valid Wave file");
    if ((fmt[8] | fmt[9] << 8) != 1)
        return Fail("Can not handle compressed Wave file");
    const std::int32_t fmtSize = std::int32_t(Le32(fmt + 4));
    if (fmtSize > 16)
        reader.Skip(std::uint64_t(fmtSize - 16));

    std::uint8_t chunk[8];
    for (;;) {
        // A file that ends before its data chunk has nothing to join.
        if (!reader.ReadExact(chunk, sizeof chunk))
            return Fail("This is not a valid Wave file");
        if (std::memcmp(chunk, "data", 4) == 0)
            break;
        const std::int32_t size = std::int32_t(Le32(chunk + 4));
        if (size > 0)
            reader.Skip(std::uint64_t(size));
    }

    const std::uint64_t dataSize = Le32(chunk + 4);
    std::uint64_t consumed = 0;
    while (consumed < dataSize) {
        const std::uint8_t *data;
        const std::size_t want =
            std::size_t(std::min<std::uint64_t>(blockBytes, dataSize - consumed));
        const std::size_t n = reader.Next(want, &data);
        if (n == 0) {
            if (reader.Error() != 0)
                return Fail("Could not read '" + path + "': " + SystemError(reader.Error()));
            break;
        }
        consumed += n;
        if (!blocks.Block(data, n))
            return InputResult::Failed;
        if (blocks.AfterBlock(Percent(consumed, dataSize)))
            return InputResult::Stopped;
    }
    return InputResult::Done;
}

} // namespace tandrel
