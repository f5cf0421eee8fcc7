#pragma once

#include <cstdint>

namespace tandrel {

// What the start of an MP3 file tells without decoding: where the audio begins after any
// ID3v2 tags, and the frame count and encoder delay/padding of a Xing/Info/LAME header.
struct Mp3Header {
    std::uint64_t audioStart = 0;
    std::uint64_t audioEnd = 0; // before a trailing ID3v1 tag
    bool frameFound = false;    // a layer III frame header right at audioStart
    int sampleRate = 0;
    int samplesPerFrame = 0;
    int bitrate = 0; // bits per second of the first frame
    bool hasFrameCount = false;
    std::uint32_t frames = 0;
    // The bytes of MPEG audio the Xing/Info header states (its own frame included), or 0.
    std::uint64_t statedBytes = 0;
    bool hasGapless = false;
    int encoderDelay = 0;
    int padding = 0;
    // Bytes of a first frame that only carries a Xing/Info/VBRI header and is not decoded.
    std::uint32_t infoFrameBytes = 0;
};

// One MPEG audio layer III frame header (free-format frames are not taken).
struct Mp3Frame {
    bool mpeg1 = false;
    bool mono = false;
    int sampleRate = 0;
    int bitrate = 0;
    int samples = 0;
    int bytes = 0; // the whole frame, header included
};

// Frames of one stream agree on these header bits: sync, version, layer and sample rate.
inline constexpr std::uint32_t kMp3StreamMask = 0xFFFE0C00;

bool ParseMp3Frame(std::uint32_t header, Mp3Frame &f);
// kbps of a layer III bitrate index (MPEG-1, or MPEG-2 and 2.5); 0 for index 0, 15 and beyond.
int Mp3BitrateKbps(bool mpeg1, int bitrateIndex);

// Reads the header of an MP3 file; a tag claiming more than the file holds leaves
// audioStart at or beyond fileSize.
Mp3Header ReadMp3Header(int fd, std::uint64_t fileSize);

// Bounds of a layer III frame's size at the header's sample rate (any bitrate, padding slot
// included in the largest).
int Mp3SmallestFrameBytes(const Mp3Header &h);
int Mp3LargestFrameBytes(const Mp3Header &h);

// Samples the decoder delivers once the delay and padding are removed, or -1 when the
// header does not say.
std::int64_t Mp3ExactSamples(const Mp3Header &h);

// A guess from the first frame's bitrate and the audio size, or -1.
std::int64_t Mp3EstimatedSamples(const Mp3Header &h);

} // namespace tandrel
