#include "encoders/Mp3Bitstream.h"

namespace mp3 {
namespace {

constexpr int kKbpsV1[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kKbpsV2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr int kRates[] = {44100, 48000, 32000};

// Reads bits MSB first from a byte string.
class BitReader {
public:
    BitReader(const std::uint8_t *data, std::size_t bit) : data_(data), bit_(bit) {}
    unsigned Read(int count) {
        unsigned v = 0;
        for (int i = 0; i < count; ++i, ++bit_)
            v = (v << 1) | ((data_[bit_ >> 3] >> (7 - (bit_ & 7))) & 1u);
        return v;
    }
    void Skip(int count) { bit_ += std::size_t(count); }

private:
    const std::uint8_t *data_;
    std::size_t bit_;
};

std::uint16_t CrcBits(std::uint16_t crc, unsigned value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        const bool top = ((crc >> 15) ^ (value >> i)) & 1u;
        crc = std::uint16_t(crc << 1);
        if (top)
            crc ^= 0x8005;
    }
    return crc;
}

} // namespace

int Kbps(int version, int bitrateIndex) {
    if (bitrateIndex <= 0 || bitrateIndex >= 15)
        return 0;
    return version == 3 ? kKbpsV1[bitrateIndex] : kKbpsV2[bitrateIndex];
}

std::size_t FrameLength(int version, int bitrateIndex, int sampleRate, int padding) {
    const int slots = version == 3 ? 144 : 72;
    return std::size_t(slots * Kbps(version, bitrateIndex) * 1000 / sampleRate + padding);
}

bool ParseHeader(const std::uint8_t *h, std::size_t available, FrameHeader &out) {
    if (available < 4 || h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1)
        return false;
    FrameHeader f;
    f.version = (h[1] >> 3) & 3;
    f.bitrateIndex = h[2] >> 4;
    f.rateIndex = (h[2] >> 2) & 3;
    if (f.version == 1 || f.bitrateIndex == 0 || f.bitrateIndex == 15 || f.rateIndex == 3)
        return false;
    f.padding = (h[2] >> 1) & 1;
    f.crc = !(h[1] & 1);
    f.channels = (h[3] >> 6) == 3 ? 1 : 2;
    f.sampleRate = kRates[f.rateIndex] >> (f.version == 3 ? 0 : f.version == 2 ? 1 : 2);
    f.samples = f.version == 3 ? 1152 : 576;
    f.length = FrameLength(f.version, f.bitrateIndex, f.sampleRate, f.padding);
    f.sideInfo = f.version == 3 ? (f.channels == 1 ? 17 : 32) : (f.channels == 1 ? 9 : 17);
    if (f.length < f.DataOffset())
        return false;
    out = f;
    return true;
}

int MaxMainDataBegin(const FrameHeader &h) {
    return h.Mpeg1() ? 511 : 255;
}

int MainDataBegin(const std::uint8_t *frame, const FrameHeader &h) {
    BitReader bits(frame + 4 + (h.crc ? 2 : 0), 0);
    return int(bits.Read(h.Mpeg1() ? 9 : 8));
}

int LastBlockType(const std::uint8_t *frame, const FrameHeader &h, int ch) {
    BitReader bits(frame + 4 + (h.crc ? 2 : 0), 0);
    if (h.Mpeg1())
        bits.Skip(9 + (h.channels == 1 ? 5 : 3) + 4 * h.channels);
    else
        bits.Skip(8 + h.channels);
    const int granules = h.Mpeg1() ? 2 : 1;
    const int granuleBits = h.Mpeg1() ? 59 : 63;
    // Skip to the last granule's channel ch; part2_3_length up to scalefac_compress precede.
    bits.Skip(granuleBits * ((granules - 1) * h.channels + ch));
    bits.Skip(12 + 9 + 8 + (h.Mpeg1() ? 4 : 9));
    if (!bits.Read(1))
        return 0;
    return int(bits.Read(2));
}

std::uint16_t HeaderCrc(const std::uint8_t *frame, std::size_t sideStart, std::size_t sideInfo) {
    std::uint16_t crc = 0xFFFF;
    crc = CrcBits(crc, frame[2], 8);
    crc = CrcBits(crc, frame[3], 8);
    for (std::size_t i = 0; i < sideInfo; ++i)
        crc = CrcBits(crc, frame[sideStart + i], 8);
    return crc;
}

void WriteCrc(std::uint8_t *frame, const FrameHeader &h) {
    if (!h.crc)
        return;
    const std::uint16_t crc = HeaderCrc(frame, 6, h.sideInfo);
    frame[4] = std::uint8_t(crc >> 8);
    frame[5] = std::uint8_t(crc);
}

void SetBitrateIndex(std::uint8_t *frame, const FrameHeader &h, int index) {
    frame[2] = std::uint8_t((frame[2] & 0x0F) | (index << 4));
    WriteCrc(frame, h);
}

std::uint16_t Crc16Arc(std::uint16_t crc, const std::uint8_t *data, std::size_t count) {
    static const auto table = [] {
        struct T {
            std::uint16_t v[256];
        } t{};
        for (unsigned i = 0; i < 256; ++i) {
            unsigned c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            t.v[i] = std::uint16_t(c);
        }
        return t;
    }();
    for (std::size_t i = 0; i < count; ++i)
        crc = std::uint16_t((crc >> 8) ^ table.v[(crc ^ data[i]) & 0xFF]);
    return crc;
}

} // namespace mp3
