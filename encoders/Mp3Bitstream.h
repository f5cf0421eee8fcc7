#pragma once

#include <cstddef>
#include <cstdint>

// Layer III frame headers and side information, as far as joining two encoder streams needs
// them: lengths, main_data_begin, block types and the header CRC.
namespace mp3 {

struct FrameHeader {
    int version = 0; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int bitrateIndex = 0;
    int rateIndex = 0;
    int padding = 0;
    int channels = 2;
    bool crc = false;
    int sampleRate = 0;
    int samples = 0;          // per frame: 1152 or 576
    std::size_t length = 0;   // the whole frame
    std::size_t sideInfo = 0; // bytes of side information
    // Header, CRC and side information: where the frame's main data area starts.
    std::size_t DataOffset() const { return 4 + (crc ? 2 : 0) + sideInfo; }
    bool Mpeg1() const { return version == 3; }
};

// False for anything but a layer III header of a legal bitrate and rate.
bool ParseHeader(const std::uint8_t *h, std::size_t available, FrameHeader &out);
// kbps of a bitrate index; 0 for index 0 or 15.
int Kbps(int version, int bitrateIndex);
std::size_t FrameLength(int version, int bitrateIndex, int sampleRate, int padding);
// 511 for MPEG-1, 255 for MPEG-2 and 2.5.
int MaxMainDataBegin(const FrameHeader &h);

int MainDataBegin(const std::uint8_t *frame, const FrameHeader &h);
// Rewrites main_data_begin (and the CRC when the frame carries one).
void SetMainDataBegin(std::uint8_t *frame, const FrameHeader &h, int value);
// Bytes of the frame's main data: its granules' part2_3_length bits, rounded up.
std::size_t MainDataBytes(const std::uint8_t *frame, const FrameHeader &h);
// Block type (0 normal, 1 start, 2 short, 3 stop) of the frame's last granule in channel ch.
int LastBlockType(const std::uint8_t *frame, const FrameHeader &h, int ch);
// Sets the bitrate index in the header and rewrites the CRC when the frame carries one.
void SetBitrateIndex(std::uint8_t *frame, const FrameHeader &h, int index);
// The CRC of a protected frame over the header's last two bytes and sideInfo bytes from
// sideStart.
std::uint16_t HeaderCrc(const std::uint8_t *frame, std::size_t sideStart, std::size_t sideInfo);
void WriteCrc(std::uint8_t *frame, const FrameHeader &h);

// CRC-16 of the LAME tag and of the music (polynomial 0x8005 reflected, start 0).
std::uint16_t Crc16Arc(std::uint16_t crc, const std::uint8_t *data, std::size_t count);
// The CRC of bytes A then B from Crc16Arc(crc, A), Crc16Arc(0, B) and B's length.
std::uint16_t Crc16ArcCombine(std::uint16_t first, std::uint16_t second, std::uint64_t secondBytes);

} // namespace mp3
