#include "join/Mp3CopyInput.h"

#include "audio/Decoder.h"
#include "audio/FileAccess.h"

#include <unistd.h>

namespace tandrel {
namespace {

constexpr std::uint64_t kSearchBytes = 1 << 20; // as far as the decoder looks for frames

} // namespace

Mp3CopyInput::~Mp3CopyInput() {
    if (fd >= 0)
        ::close(fd);
}

bool Mp3CopyInput::Open(const std::string &path, std::size_t readBytes) {
    fd = OpenRegularFile(path, size);
    if (fd < 0)
        return false;
    header = ReadMp3Header(fd, size);
    if (header.audioStart >= size)
        return false;
    const std::uint64_t start = header.audioStart + header.infoFrameBytes;
    frames = std::make_unique<Mp3Frames>(fd, start, header.audioEnd);
    if (!frames->FindFirst(kSearchBytes))
        return false;
    // Look at the first frame, then start over at it.
    const std::uint64_t at = frames->Position();
    if (!frames->Next(first))
        return false;
    frames = std::make_unique<Mp3Frames>(fd, at, header.audioEnd, readBytes);
    frames->FindFirst(0);
    if (header.hasFrameCount)
        statedFrames = std::int64_t(header.frames);
    else
        statedFrames =
            std::int64_t((header.audioEnd - at) / std::uint64_t(std::max(1, first.bytes)));
    // Delay and padding as the input's own decoding takes them, stated lengths checked.
    const std::unique_ptr<Decoder> decoder = Decoder::Open(path, InputReader::Mp3, nullptr, true);
    if (!decoder)
        return false;
    skip = decoder->Mp3DelaySamples();
    endAt = decoder->Mp3PaddingFrom();
    return true;
}

double Mp3CopyInput::Seconds() const {
    return first.sampleRate > 0 ? double(statedFrames) * first.samples / first.sampleRate : 0;
}

} // namespace tandrel
