#include "encoders/Mp3Bitstream.h"

#include "audio/Mp3Header.h"

namespace mp3 {
namespace {

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
    return tandrel::Mp3BitrateKbps(version == 3, bitrateIndex);
}

std::size_t FrameLength(int version, int bitrateIndex, int sampleRate, int padding) {
    const int slots = version == 3 ? 144 : 72;
    return std::size_t(slots * Kbps(version, bitrateIndex) * 1000 / sampleRate + padding);
}

bool ParseHeader(const std::uint8_t *h, std::size_t available, FrameHeader &out) {
    tandrel::Mp3Frame frame;
    if (available < 4 ||
        !tandrel::ParseMp3Frame(std::uint32_t(h[0]) << 24 | std::uint32_t(h[1]) << 16 |
                                    std::uint32_t(h[2]) << 8 | h[3],
                                frame))
        return false;
    FrameHeader f;
    f.version = (h[1] >> 3) & 3;
    f.bitrateIndex = h[2] >> 4;
    f.rateIndex = (h[2] >> 2) & 3;
    f.padding = (h[2] >> 1) & 1;
    f.crc = !(h[1] & 1);
    f.channels = frame.mono ? 1 : 2;
    f.sampleRate = frame.sampleRate;
    f.samples = frame.samples;
    f.length = std::size_t(frame.bytes);
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

void SetMainDataBegin(std::uint8_t *frame, const FrameHeader &h, int value) {
    std::uint8_t *side = frame + 4 + (h.crc ? 2 : 0);
    if (h.Mpeg1()) {
        side[0] = std::uint8_t(value >> 1);
        side[1] = std::uint8_t((side[1] & 0x7F) | ((value & 1) << 7));
    } else {
        side[0] = std::uint8_t(value);
    }
    WriteCrc(frame, h);
}

std::size_t MainDataBytes(const std::uint8_t *frame, const FrameHeader &h) {
    BitReader bits(frame + 4 + (h.crc ? 2 : 0), 0);
    if (h.Mpeg1())
        bits.Skip(9 + (h.channels == 1 ? 5 : 3) + 4 * h.channels);
    else
        bits.Skip(8 + h.channels);
    const int blocks = (h.Mpeg1() ? 2 : 1) * h.channels;
    const int granuleBits = h.Mpeg1() ? 59 : 63;
    std::size_t total = 0;
    for (int i = 0; i < blocks; ++i) {
        total += bits.Read(12);
        bits.Skip(granuleBits - 12);
    }
    return (total + 7) / 8;
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

} // namespace mp3
