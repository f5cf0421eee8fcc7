#include "audio/Mp3Header.h"

#include "audio/ByteOrder.h"
#include "audio/FileAccess.h"
#include "audio/Mp3Frames.h"

#include <algorithm>
#include <cstring>

namespace tandrel {
namespace {

// The decoder's own delay, which the demuxer adds to the encoder delay when it trims.
constexpr int kDecoderDelay = 529;
// How far after the tags the first frame, and with it the Xing/Info header, is looked for.
constexpr std::uint64_t kFirstFrameSearch = 64 * 1024;

// The bytes of the tag that ends at `end` (APE, Lyrics3 version 2, or ID3v2 with a footer), as
// it states them; 0 when none ends there. One read tells them all apart.
std::uint64_t TrailingTagBytes(int fd, std::uint64_t end) {
    unsigned char b[32];
    if (end < 32 || !ReadAt(fd, end - 32, b, 32))
        return 0;
    if (std::memcmp(b, "APETAGEX", 8) == 0) {
        const std::uint64_t size = Le32(b + 12) + ((Le32(b + 20) & 0x80000000u) ? 32 : 0);
        return size >= 32 ? size : 0;
    }
    const unsigned char *lyrics = b + 32 - 15, *id3 = b + 32 - 10;
    if (std::memcmp(lyrics + 6, "LYRICS200", 9) == 0 &&
        std::all_of(lyrics, lyrics + 6, [](unsigned char c) { return c >= '0' && c <= '9'; })) {
        std::uint64_t size = 0;
        for (int i = 0; i < 6; ++i)
            size = size * 10 + (lyrics[i] - '0');
        unsigned char begin[11];
        return size + 15 <= end && ReadAt(fd, end - 15 - size, begin, 11) &&
                       std::memcmp(begin, "LYRICSBEGIN", 11) == 0
                   ? size + 15
                   : 0;
    }
    if (std::memcmp(id3, "3DI", 3) == 0 && ((id3[6] | id3[7] | id3[8] | id3[9]) & 0x80) == 0)
        return 20 + Syncsafe(id3 + 6);
    return 0;
}

// Where the audio ends: before an ID3v1 tag at the end of the file, and before the tags that
// end where it begins, one after the other. A tag that would begin before the audio's start
// is no tag.
std::uint64_t AudioEnd(int fd, std::uint64_t start, std::uint64_t fileSize) {
    std::uint64_t end = fileSize;
    unsigned char tag[3];
    if (end - start >= 128 && ReadAt(fd, end - 128, tag, 3) && std::memcmp(tag, "TAG", 3) == 0)
        end -= 128;
    for (int i = 0; i < 8; ++i) {
        const std::uint64_t bytes = TrailingTagBytes(fd, end);
        if (bytes == 0 || bytes > end - start)
            break;
        end -= bytes;
    }
    return end;
}

void ParseXing(const unsigned char *b, std::size_t n, const Mp3Frame &f, Mp3Header &h) {
    if (n >= 4 + 32 + 18 && std::memcmp(b + 36, "VBRI", 4) == 0 && b[40] == 0 && b[41] == 1) {
        h.infoFrameBytes = std::uint32_t(f.bytes);
        return;
    }
    std::size_t at = 4 + (f.mpeg1 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17));
    if (at + 8 > n || (std::memcmp(b + at, "Xing", 4) != 0 && std::memcmp(b + at, "Info", 4) != 0))
        return;
    std::uint32_t flags = Be32(b + at + 4);
    at += 8;
    if (flags & 1) {
        if (at + 4 > n)
            return;
        h.frames = Be32(b + at);
        h.hasFrameCount = true;
        at += 4;
    }
    if ((flags & 2) && at + 4 <= n)
        h.statedBytes = Be32(b + at);
    // A tag stating neither frames nor bytes is decoded as an ordinary frame.
    if (at + ((flags & 2) ? 4 : 0) <= n && (h.frames != 0 || ((flags & 2) && Be32(b + at) != 0)))
        h.infoFrameBytes = std::uint32_t(f.bytes);
    at += (flags & 2 ? 4 : 0) + (flags & 4 ? 100 : 0) + (flags & 8 ? 4 : 0);
    if (at + 24 > n)
        return;
    const unsigned char *tag = b + at;
    if (std::memcmp(tag, "LAME", 4) != 0 && std::memcmp(tag, "Lavf", 4) != 0 &&
        std::memcmp(tag, "Lavc", 4) != 0)
        return;
    h.encoderDelay = (tag[21] << 4) | (tag[22] >> 4);
    h.padding = ((tag[22] & 0x0F) << 8) | tag[23];
    h.hasGapless = true;
}

// An MPEG audio frame header or a further ID3v2 tag at `at`.
bool AudioOrTagAt(int fd, std::uint64_t at, std::uint64_t fileSize) {
    unsigned char b[4];
    Mp3Frame f;
    return at + 4 <= fileSize && ReadAt(fd, at, b, 4) &&
           (std::memcmp(b, "ID3", 3) == 0 || ParseMp3Frame(Be32(b), f));
}

// Skips ID3v2 tags by their headers alone: the body is never read or allocated. A size
// written as a plain 32-bit number (a common writer's fault) is taken when the syncsafe
// reading lands on neither a frame nor a tag and the plain one does.
std::uint64_t SkipId3v2Tags(int fd, std::uint64_t fileSize) {
    std::uint64_t at = 0;
    unsigned char tag[10];
    for (int i = 0; i < 16 && at + 10 <= fileSize; ++i) {
        if (!ReadAt(fd, at, tag, 10) || std::memcmp(tag, "ID3", 3) != 0 || tag[3] == 0xFF ||
            tag[4] == 0xFF)
            break;
        const std::uint64_t head = at + 10 + ((tag[5] & 0x10) ? 10 : 0);
        const bool syncsafe = ((tag[6] | tag[7] | tag[8] | tag[9]) & 0x80) == 0;
        const std::uint64_t safe =
            head + ((std::uint64_t(tag[6]) << 21) | (std::uint64_t(tag[7]) << 14) |
                    (std::uint64_t(tag[8]) << 7) | tag[9]);
        const std::uint64_t plain = head + Be32(tag + 6);
        // A size past the end of the file is no size: the frames are looked for after the
        // tag's header instead.
        if (safe >= fileSize && plain >= fileSize) {
            at = head;
            break;
        }
        if (syncsafe && (safe == plain || AudioOrTagAt(fd, safe, fileSize) ||
                         !AudioOrTagAt(fd, plain, fileSize)))
            at = safe;
        else if (AudioOrTagAt(fd, plain, fileSize))
            at = plain;
        else
            break;
    }
    return at;
}

// Forgets the encoder delay and padding when they leave no audio in the stated frames.
void DropGaplessThatDoesNotFit(Mp3Header &h) {
    if (!h.hasGapless || !h.hasFrameCount)
        return;
    const std::int64_t total = std::int64_t(h.frames) * h.samplesPerFrame;
    if (total - h.encoderDelay - kDecoderDelay - std::max(0, h.padding - kDecoderDelay) <= 0) {
        h.hasGapless = false;
        h.encoderDelay = 0;
        h.padding = 0;
    }
}

} // namespace

int Mp3BitrateKbps(bool mpeg1, int bitrateIndex) {
    static const int kBitrates1[15] = {0,   32,  40,  48,  56,  64,  80, 96,
                                       112, 128, 160, 192, 224, 256, 320};
    static const int kBitrates2[15] = {0,  8,  16, 24,  32,  40,  48, 56,
                                       64, 80, 96, 112, 128, 144, 160};
    if (bitrateIndex <= 0 || bitrateIndex >= 15)
        return 0;
    return (mpeg1 ? kBitrates1 : kBitrates2)[bitrateIndex];
}

bool ParseMp3Frame(std::uint32_t header, Mp3Frame &f) {
    static const int kRates[3] = {44100, 48000, 32000};
    if ((header & 0xFFE00000u) != 0xFFE00000u)
        return false;
    const int version = (header >> 19) & 3; // 0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1
    const int layer = (header >> 17) & 3;   // 1 is layer III
    const int bitrateIndex = (header >> 12) & 15;
    const int rateIndex = (header >> 10) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    f.mpeg1 = version == 3;
    f.mono = ((header >> 6) & 3) == 3;
    f.sampleRate = kRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    f.bitrate = Mp3BitrateKbps(f.mpeg1, bitrateIndex) * 1000;
    f.samples = f.mpeg1 ? 1152 : 576;
    f.bytes = (f.mpeg1 ? 144 : 72) * f.bitrate / f.sampleRate + int((header >> 9) & 1);
    return true;
}

Mp3Header ReadMp3Header(int fd, std::uint64_t fileSize) {
    Mp3Header h;
    h.audioEnd = fileSize;
    h.audioStart = SkipId3v2Tags(fd, fileSize);
    if (h.audioStart >= fileSize)
        return h;
    h.audioEnd = AudioEnd(fd, h.audioStart, fileSize);

    unsigned char buf[256] = {};
    Mp3Frame f;
    // Padding or junk between the tags and the first frame: the header is that frame's.
    if (!ReadAt(fd, h.audioStart, buf, 4) || !ParseMp3Frame(Be32(buf), f)) {
        Mp3Frames frames(fd, h.audioStart, h.audioEnd);
        if (frames.FindFirst(kFirstFrameSearch))
            h.audioStart = frames.Position();
    }
    std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, fileSize - h.audioStart));
    if (n < 4 || !ReadAt(fd, h.audioStart, buf, n) || !ParseMp3Frame(Be32(buf), f))
        return h;
    h.frameFound = true;
    h.sampleRate = f.sampleRate;
    h.samplesPerFrame = f.samples;
    h.bitrate = f.bitrate;
    ParseXing(buf, n, f, h);
    DropGaplessThatDoesNotFit(h);
    return h;
}

int Mp3SmallestFrameBytes(const Mp3Header &h) {
    if (h.sampleRate <= 0)
        return 0;
    const bool mpeg1 = h.samplesPerFrame == 1152;
    return (mpeg1 ? 144 : 72) * Mp3BitrateKbps(mpeg1, 1) * 1000 / h.sampleRate;
}

int Mp3LargestFrameBytes(const Mp3Header &h) {
    if (h.sampleRate <= 0)
        return 0;
    const bool mpeg1 = h.samplesPerFrame == 1152;
    return (mpeg1 ? 144 : 72) * Mp3BitrateKbps(mpeg1, 14) * 1000 / h.sampleRate + 1;
}

std::int64_t Mp3ExactSamples(const Mp3Header &h) {
    if (!h.frameFound || !h.hasFrameCount)
        return -1;
    std::int64_t total = std::int64_t(h.frames) * h.samplesPerFrame;
    if (h.hasGapless) {
        total -= h.encoderDelay + kDecoderDelay;
        total -= std::max(0, h.padding - kDecoderDelay);
    }
    return std::max<std::int64_t>(total, 0);
}

std::int64_t Mp3EstimatedSamples(const Mp3Header &h) {
    if (!h.frameFound || h.bitrate <= 0 || h.audioEnd <= h.audioStart)
        return -1;
    std::int64_t total = static_cast<std::int64_t>(double(h.audioEnd - h.audioStart) * 8.0 *
                                                   h.sampleRate / h.bitrate);
    if (h.hasGapless)
        total -= h.encoderDelay + kDecoderDelay;
    return std::max<std::int64_t>(total, 0);
}

} // namespace tandrel
