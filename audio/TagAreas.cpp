#include "audio/TagAreas.h"

#include "audio/ByteOrder.h"
#include "audio/FileAccess.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

// How large the parts of a file are that a tag reader would load into memory, read from their
// headers alone.
namespace tandrel {
namespace {

constexpr int kMaxWalk = 4096; // chunks, blocks or atoms looked at
// More ID3v2 frames than any real tag has (a frame each for a thousand chapters and lyrics
// lines): each would cost a reader an object.
constexpr int kMaxId3Frames = 4096;

// An ID3v2 tag at the start: its size from the four 7-bit bytes of its header, or "too
// large" when it holds more frames than a reader should build objects for.
std::uint64_t Id3v2Bytes(int fd, std::uint64_t fileSize) {
    unsigned char h[10];
    if (!ReadAt(fd, 0, h, sizeof h) || std::memcmp(h, "ID3", 3) != 0)
        return 0;
    const std::uint64_t bytes = Syncsafe(h + 6);
    const int version = h[3];
    const std::uint64_t end = std::min(fileSize, 10 + bytes);
    std::uint64_t at = 10;
    unsigned char f[10];
    if ((h[5] & 0x40) && version >= 3 && ReadAt(fd, at, f, 4))
        at += version >= 4 ? Syncsafe(f) : 4 + Be32(f);
    const std::uint64_t head = version == 2 ? 6 : 10;
    for (int frames = 0; at + head <= end && ReadAt(fd, at, f, head) && f[0] != 0; ++frames) {
        if (frames >= kMaxId3Frames)
            return UINT64_MAX;
        at += head + (version == 2   ? (std::uint64_t(f[3]) << 16 | f[4] << 8 | f[5])
                      : version >= 4 ? Syncsafe(f + 4)
                                     : Be32(f + 4));
    }
    return bytes;
}

// All the metadata blocks of a FLAC file: a reader keeps every one of them.
std::uint64_t FlacBlockBytes(int fd) {
    std::uint64_t at = 4, total = 0;
    unsigned char h[4];
    for (int i = 0; i < kMaxWalk && ReadAt(fd, at, h, sizeof h); ++i) {
        const std::uint64_t bytes = std::uint64_t(h[1]) << 16 | h[2] << 8 | h[3];
        total += bytes;
        at += 4 + bytes;
        if (h[0] & 0x80)
            break;
    }
    return total;
}

// The largest chunk of a RIFF or AIFF file other than its sample data.
std::uint64_t ChunkBytes(int fd, std::uint64_t size, bool bigEndian) {
    std::uint64_t at = 12, largest = 0;
    unsigned char h[8];
    for (int i = 0; i < kMaxWalk && at + 8 <= size && ReadAt(fd, at, h, sizeof h); ++i) {
        const std::uint64_t bytes = bigEndian ? Be32(h + 4) : Le32(h + 4);
        if (std::memcmp(h, "data", 4) != 0 && std::memcmp(h, "SSND", 4) != 0)
            largest = std::max(largest, bytes);
        at += 8 + bytes + (bytes & 1);
    }
    return largest;
}

// The size of an MP4 file's item list (moov/udta/meta/ilst), where its cover lives.
std::uint64_t Mp4ItemBytes(int fd, std::uint64_t size) {
    static const char *const kPath[] = {"moov", "udta", "meta", "ilst"};
    std::uint64_t at = 0, end = size;
    for (int depth = 0; depth < 4; ++depth) {
        bool found = false;
        unsigned char h[16];
        for (int i = 0; i < kMaxWalk && at + 8 <= end && ReadAt(fd, at, h, sizeof h); ++i) {
            std::uint64_t bytes = Be32(h), head = 8;
            if (bytes == 1)
                bytes = std::uint64_t(Be32(h + 8)) << 32 | Be32(h + 12), head = 16;
            else if (bytes == 0)
                bytes = end - at;
            if (bytes < head)
                return 0;
            if (std::memcmp(h + 4, kPath[depth], 4) == 0) {
                if (depth == 3)
                    return bytes;
                end = std::min(end, at + bytes);
                at += head + (depth == 2 ? 4 : 0); // "meta" is a full box
                found = true;
                break;
            }
            at += bytes;
        }
        if (!found)
            return 0;
    }
    return 0;
}

// The header object of an ASF file, which holds its attributes and pictures.
std::uint64_t AsfHeaderBytes(int fd) {
    unsigned char h[24];
    if (!ReadAt(fd, 0, h, sizeof h))
        return 0;
    return std::uint64_t(Le32(h + 20)) << 32 | Le32(h + 16);
}

} // namespace

std::vector<std::pair<std::uint64_t, std::uint64_t>> FlacPictureBlocks(int fd) {
    constexpr int kPictureBlock = 6;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> blocks;
    unsigned char h[4];
    if (!ReadAt(fd, 0, h, sizeof h) || std::memcmp(h, "fLaC", 4) != 0)
        return blocks;
    std::uint64_t at = 4;
    for (int i = 0; i < kMaxWalk && ReadAt(fd, at, h, sizeof h); ++i) {
        const std::uint64_t end = at + 4 + (std::uint64_t(h[1]) << 16 | h[2] << 8 | h[3]);
        if ((h[0] & 0x7F) == kPictureBlock)
            blocks.emplace_back(at, end);
        at = end;
        if (h[0] & 0x80)
            break;
    }
    return blocks;
}

std::uint64_t LargestTagArea(const std::string &path, const std::string &container) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return 0;
    FdGuard closer(fd);
    std::uint64_t bytes = Id3v2Bytes(fd, size);
    if (container == "FLAC")
        bytes = std::max(bytes, FlacBlockBytes(fd));
    else if (container == "WAV" || container == "RF64" || container == "W64")
        bytes = std::max(bytes, ChunkBytes(fd, size, false));
    else if (container == "AIFF")
        bytes = std::max(bytes, ChunkBytes(fd, size, true));
    else if (container == "MP4")
        bytes = std::max(bytes, Mp4ItemBytes(fd, size));
    else if (container == "ASF")
        bytes = std::max(bytes, AsfHeaderBytes(fd));
    // A size claimed past the end of the file loads no more than the file holds.
    return bytes == UINT64_MAX ? bytes : std::min(bytes, size);
}

} // namespace tandrel
