#include "audio/Waveinf.h"

#include "audio/FileAccess.h"
#include "common/Messages.h"

#include <cstring>
#include <limits>

namespace {

constexpr std::uint32_t kExtensibleTag = 0xFFFE;
// No real wave file has this many chunks before its data; a flood of empty chunks ends here.
constexpr int kMaxChunks = 1 << 20;

std::uint32_t LE32(const unsigned char *p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

std::uint16_t LE16(const unsigned char *p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}

void ShowError(const char *text) {
    tandrel::ShowMessage("ERROR", text);
}

// Reads chunk headers through a small window, so that a walk over many tiny chunks stays cheap.
class HeaderReader {
public:
    HeaderReader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    bool Read(std::uint64_t offset, unsigned char *dst, std::size_t n) {
        if (offset > size_ || n > size_ - offset)
            return false;
        if (offset < start_ || offset + n > start_ + filled_) {
            std::uint64_t left = size_ - offset;
            filled_ = static_cast<std::size_t>(left < sizeof window_ ? left : sizeof window_);
            start_ = offset;
            if (!tandrel::ReadAt(fd_, offset, window_, filled_)) {
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

} // namespace

bool ReadWaveInfo(const std::string &fileName, TWaveInfo &info) {
    std::uint64_t size = 0;
    tandrel::FdGuard fd(tandrel::OpenRegularFile(fileName, size));
    if (fd.Get() < 0) {
        tandrel::ShowMessage(tandrel::kAppTitle, "Cannot open the file!");
        return false;
    }
    HeaderReader reader(fd.Get(), size);
    unsigned char head[36];
    if (!reader.Read(0, head, sizeof head) || std::memcmp(head + 12, "fmt ", 4) != 0) {
        ShowError("This is not a valid Wave file.");
        return false;
    }
    const std::uint32_t formatSize = LE32(head + 16);
    const std::uint16_t tag = LE16(head + 20);
    if (tag == kExtensibleTag) {
        ShowError("Can not support 24bit or 32bit Wave file.");
        return false;
    }
    if (tag != 1) {
        ShowError("This is not a valid Wave file.");
        return false;
    }
    const std::uint16_t channels = LE16(head + 22);
    const std::uint32_t rate = LE32(head + 24);
    const std::uint16_t bits = LE16(head + 34);
    info.SampleRate = static_cast<std::int32_t>(rate);
    info.Channels = channels;
    info.BitsPerSample = bits;

    std::uint64_t pos = 36 + (formatSize > 16 ? formatSize - 16 : 0);
    std::uint32_t dataSize = 0;
    for (int chunks = 0;; ++chunks) {
        unsigned char chunk[8];
        // The file ends before "data", or a chunk claims more than the file holds.
        if (chunks == kMaxChunks || !reader.Read(pos, chunk, sizeof chunk)) {
            ShowError("This is not a valid Wave file.");
            return false;
        }
        if (std::memcmp(chunk, "data", 4) == 0) {
            dataSize = LE32(chunk + 4);
            break;
        }
        pos += 8 + std::uint64_t(LE32(chunk + 4));
    }

    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        tandrel::ShowMessage(tandrel::kAppTitle, "Not PCM formats!");
        return false;
    }
    const std::uint64_t byteRate = std::uint64_t(rate) * channels * bits / 8;
    if (byteRate == 0 || rate > std::uint32_t(std::numeric_limits<std::int32_t>::max()) ||
        std::uint64_t(rate) * channels * bits >
            std::uint64_t(std::numeric_limits<std::int32_t>::max())) {
        ShowError("This is not a valid Wave file.");
        return false;
    }
    info.DataSize = dataSize;
    info.FileSize = dataSize + 44;
    info.Seconds = static_cast<std::uint32_t>(dataSize / byteRate);
    return true;
}
