#include "encoders/Mp3InfoFrame.h"

#include "encoders/Mp3Bitstream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace mp3 {
namespace {

constexpr std::size_t kXingBytes = 120; // "Info", flags, frames, bytes, TOC, quality
constexpr std::size_t kLameBytes = 36;  // through the tag's own CRC

void Put32(std::uint8_t *p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

int InfoBitrateIndex(const FrameHeader &h) {
    const std::size_t need = 4 + h.sideInfo + kXingBytes + kLameBytes;
    for (int index = h.bitrateIndex; index < 15; ++index)
        if (FrameLength(h.version, index, h.sampleRate, 0) >= need)
            return index;
    return 14;
}

} // namespace

bool AudioHeader(int sampleRate, int mode, int kbps, bool copyright, bool crc, bool original,
                 bool priv, std::uint8_t out[4]) {
    static const int rates[] = {44100, 48000, 32000};
    int version = 3, rateIndex = -1;
    for (int v : {3, 2, 0})
        for (int r = 0; r < 3 && rateIndex < 0; ++r)
            if ((rates[r] >> (v == 3 ? 0 : v == 2 ? 1 : 2)) == sampleRate) {
                version = v;
                rateIndex = r;
            }
    int bitrateIndex = -1;
    for (int i = 1; i < 15 && rateIndex >= 0; ++i)
        if (Kbps(version, i) == kbps)
            bitrateIndex = i;
    if (rateIndex < 0 || bitrateIndex < 0)
        return false;
    out[0] = 0xFF;
    out[1] = std::uint8_t(0xE0 | (version << 3) | (1 << 1) | (crc ? 0 : 1));
    out[2] = std::uint8_t((bitrateIndex << 4) | (rateIndex << 2) | (priv ? 1 : 0));
    out[3] = std::uint8_t(((mode & 3) << 6) | (copyright ? 8 : 0) | (original ? 4 : 0));
    return true;
}

std::size_t InfoFrameLength(const std::uint8_t audioHeader[4]) {
    FrameHeader h;
    if (!ParseHeader(audioHeader, 4, h))
        return 0;
    return FrameLength(h.version, InfoBitrateIndex(h), h.sampleRate, 0);
}

std::vector<std::uint8_t> BuildInfoFrame(const std::uint8_t audioHeader[4], const InfoFields &f) {
    FrameHeader h;
    if (!ParseHeader(audioHeader, 4, h))
        return {};
    const int index = InfoBitrateIndex(h);
    std::vector<std::uint8_t> frame(FrameLength(h.version, index, h.sampleRate, 0), 0);
    std::memcpy(frame.data(), audioHeader, 4);
    frame[2] = std::uint8_t((index << 4) | (frame[2] & 0x0D)); // no padding
    frame[3] &= 0xCF;                                          // no mode extension
    // As LAME does, the tag sits right after the side information whether or not a CRC
    // precedes it.
    std::uint8_t *p = frame.data() + 4 + h.sideInfo;
    std::memcpy(p, f.variable ? "Xing" : "Info", 4);
    Put32(p + 4, 0x0F); // frames, bytes, TOC and quality present
    Put32(p + 8, f.frames);
    Put32(p + 12, f.bytes);
    for (int i = 0; i < 100; ++i)
        p[16 + i] = f.variable ? f.toc[std::size_t(i)] : std::uint8_t(i * 256 / 100);
    Put32(p + 116, 57);
    std::uint8_t *lame = p + kXingBytes;
    char version[24] = {};
    std::snprintf(version, sizeof version, "LAME%d.%02d", std::clamp(f.versionMajor, 0, 9),
                  std::clamp(f.versionMinor, 0, 999));
    std::memcpy(lame, version, 9);
    lame[9] = f.variable ? 0x00 : 0x01; // tag revision 0, method unknown or CBR
    lame[20] = std::uint8_t(std::min(f.kbps, 255));
    const int delay = std::clamp(f.delay, 0, 4095), padding = std::clamp(f.padding, 0, 4095);
    lame[21] = std::uint8_t(delay >> 4);
    lame[22] = std::uint8_t(((delay & 15) << 4) | (padding >> 8));
    lame[23] = std::uint8_t(padding);
    Put32(lame + 28, f.bytes);
    lame[32] = std::uint8_t(f.musicCrc >> 8);
    lame[33] = std::uint8_t(f.musicCrc);
    if (h.crc) {
        const std::uint16_t crc = HeaderCrc(frame.data(), 6, h.sideInfo);
        frame[4] = std::uint8_t(crc >> 8);
        frame[5] = std::uint8_t(crc);
    }
    const std::size_t tagCrcAt = std::size_t(lame + 34 - frame.data());
    const std::uint16_t tagCrc = Crc16Arc(0, frame.data(), tagCrcAt);
    lame[34] = std::uint8_t(tagCrc >> 8);
    lame[35] = std::uint8_t(tagCrc);
    return frame;
}

std::uint32_t StreamFrames(std::int64_t samples, int frameSamples) {
    const std::int64_t toEncode = 576 + samples;
    std::int64_t padding = frameSamples - toEncode % frameSamples;
    if (padding < 576)
        padding += frameSamples;
    return std::uint32_t((toEncode + padding) / frameSamples);
}

int StreamPadding(std::int64_t samples, std::uint32_t frames, int frameSamples) {
    return int(std::int64_t(frames) * frameSamples - 576 - samples);
}

std::uint64_t StreamBytes(std::uint32_t frames, int frameSamples, int kbps, int sampleRate) {
    if (frames == 0 || sampleRate <= 0)
        return 0;
    const std::uint64_t perFrame = std::uint64_t(frameSamples) / 8 * std::uint64_t(kbps) * 1000;
    const std::uint64_t rate = std::uint64_t(sampleRate), behind = perFrame % rate;
    const std::uint64_t padded = ((frames - 1) * behind + rate - 1) / rate;
    return frames * (perFrame / rate) + padded;
}

int PaddingPeriod(int frameSamples, int sampleRate) {
    return sampleRate > 0 ? sampleRate / std::gcd(sampleRate, frameSamples * 1000) : 1;
}

} // namespace mp3
