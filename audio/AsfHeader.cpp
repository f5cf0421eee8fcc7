#include "audio/AsfHeader.h"

#include "audio/FileAccess.h"

#include <cstring>

namespace tandrel {
namespace {

const unsigned char kHeaderId[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const unsigned char kFilePropertiesId[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                             0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr int kMaxObjects = 256;

std::uint64_t Le64(const unsigned char *p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}

} // namespace

AsfHeader ReadAsfHeader(int fd, std::uint64_t fileSize) {
    AsfHeader h;
    unsigned char top[30];
    if (!ReadAt(fd, 0, top, sizeof top) || std::memcmp(top, kHeaderId, 16) != 0)
        return h;
    const std::uint64_t headerEnd = Le64(top + 16);
    std::uint64_t at = sizeof top;
    for (int i = 0; i < kMaxObjects && at + 24 <= headerEnd && at + 24 <= fileSize; ++i) {
        unsigned char obj[104];
        if (!ReadAt(fd, at, obj, 24))
            break;
        const std::uint64_t size = Le64(obj + 16);
        if (size < 24)
            break;
        if (std::memcmp(obj, kFilePropertiesId, 16) == 0) {
            if (size < sizeof obj || !ReadAt(fd, at, obj, sizeof obj))
                break;
            h.found = true;
            h.fileSize = Le64(obj + 40);
            const std::uint64_t play = Le64(obj + 64);
            const std::uint64_t preroll = Le64(obj + 80) * 10000;
            h.duration = play > preroll ? play - preroll : 0;
            h.broadcast = (obj[88] & 1) != 0;
            break;
        }
        at += size;
    }
    return h;
}

} // namespace tandrel
