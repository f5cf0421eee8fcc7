#include "audio/WavChunks.h"

#include "audio/FileAccess.h"

#include <algorithm>
#include <cstring>

namespace tandrel {
namespace {

// No real wave file has this many chunks before its data; a flood of empty chunks ends here.
constexpr int kMaxChunks = 1 << 20;
constexpr std::uint32_t kSizeInDs64 = 0xFFFFFFFF;
constexpr unsigned char kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint64_t Le(const unsigned char *p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

bool Is(const unsigned char *id, const char *name) {
    return std::memcmp(id, name, 4) == 0;
}

bool PlausibleId(const unsigned char *id) {
    return std::all_of(id, id + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

// Reads chunk headers through a small window, so that a walk over many tiny chunks stays cheap.
class HeaderReader {
public:
    HeaderReader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    bool Read(std::uint64_t offset, unsigned char *dst, std::size_t n) {
        if (offset > size_ || n > size_ - offset)
            return false;
        if (offset < start_ || offset + n > start_ + filled_) {
            const std::uint64_t left = size_ - offset;
            filled_ = static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof window_));
            start_ = offset;
            if (!ReadAt(fd_, offset, window_, filled_)) {
                filled_ = 0;
                return false;
            }
        }
        std::memcpy(dst, window_ + (offset - start_), n);
        return true;
    }

private:
    int fd_;
    std::uint64_t size_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
    unsigned char window_[4096];
};

bool ReadFormat(HeaderReader &reader, std::uint64_t at, std::uint32_t size, WavChunks &out) {
    unsigned char f[40];
    if (size < 16 || !reader.Read(at, f, std::min<std::size_t>(size, sizeof f)))
        return false;
    out.formatTag = static_cast<std::uint16_t>(Le(f, 2));
    out.channels = static_cast<std::uint16_t>(Le(f + 2, 2));
    out.sampleRate = static_cast<std::uint32_t>(Le(f + 4, 4));
    out.blockAlign = static_cast<std::uint16_t>(Le(f + 12, 2));
    out.bits = static_cast<std::uint16_t>(Le(f + 14, 2));
    if (out.formatTag == kWavExtensibleTag && size >= sizeof f &&
        std::memcmp(f + 24, kPcmSubFormat, sizeof kPcmSubFormat) == 0)
        out.formatTag = kWavPcmTag;
    return true;
}

// After a chunk of odd size: its pad byte when a chunk id follows it, else the next byte, as
// some writers leave the pad out.
std::uint64_t NextChunk(HeaderReader &reader, std::uint64_t end, std::uint32_t size) {
    if ((size & 1) == 0)
        return end;
    unsigned char b[5];
    if (!reader.Read(end, b, sizeof b))
        return end + 1;
    const bool unpadded = PlausibleId(b), padded = PlausibleId(b + 1);
    if (padded)
        return unpadded && Is(b, "data") ? end : end + 1;
    return unpadded ? end : end + 1;
}

} // namespace

bool WavRateInRange(std::uint32_t rate) {
    return rate >= 1000 && rate <= 768000;
}

bool ReadWavChunks(int fd, std::uint64_t size, WavChunks &out) {
    out = WavChunks{};
    HeaderReader reader(fd, size);
    unsigned char head[12];
    if (!reader.Read(0, head, sizeof head) || !Is(head + 8, "WAVE"))
        return false;
    out.rf64 = Is(head, "RF64");
    if (!out.rf64 && !Is(head, "RIFF"))
        return false;

    bool haveFormat = false, haveDs64 = false;
    std::uint64_t ds64Data = 0;
    std::uint64_t pos = 12;
    for (int chunks = 0; chunks < kMaxChunks; ++chunks) {
        unsigned char chunk[8];
        if (!reader.Read(pos, chunk, sizeof chunk))
            return false;
        const std::uint32_t chunkSize = static_cast<std::uint32_t>(Le(chunk + 4, 4));
        const std::uint64_t body = pos + 8;
        if (Is(chunk, "data")) {
            if (!haveFormat || (out.rf64 && !haveDs64))
                return false;
            out.dataOffset = body;
            out.declaredBytes = out.rf64 && chunkSize == kSizeInDs64 ? ds64Data : chunkSize;
            out.availableBytes = std::min(out.declaredBytes, size - body);
            return true;
        }
        if (chunkSize > size - body)
            return false;
        if (Is(chunk, "fmt ") && !haveFormat) {
            if (!ReadFormat(reader, body, chunkSize, out))
                return false;
            haveFormat = true;
        } else if (Is(chunk, "ds64") && out.rf64 && !haveDs64) {
            unsigned char sizes[16];
            if (chunkSize < 24 || !reader.Read(body, sizes, sizeof sizes))
                return false;
            ds64Data = Le(sizes + 8, 8);
            haveDs64 = true;
        }
        pos = NextChunk(reader, body + chunkSize, chunkSize);
    }
    return false;
}

} // namespace tandrel
