#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace mp3 {

// What a gapless decoder needs to give back exactly the encoded samples.
struct InfoFields {
    std::uint32_t frames = 0; // audio frames, the Info frame not counted
    std::uint32_t bytes = 0;  // the whole stream, the Info frame included
    int delay = 576;          // encoder delay in samples
    int padding = 0;          // samples added after the end
    std::uint16_t musicCrc = 0;
    int kbps = 0;
    int versionMajor = 3, versionMinor = 100; // of the encoder, for "LAMEm.nnn"
    // Frames of varying bitrates: a "Xing" frame with this seek table, byte positions of
    // each hundredth of the length in 256ths of the stream, instead of "Info".
    bool variable = false;
    std::array<std::uint8_t, 100> toc{};
};

// The first four bytes of the stream's audio frames, built from the encoder's settings.
// mode: 0 stereo, 1 joint stereo, 2 dual channel, 3 mono.
bool AudioHeader(int sampleRate, int mode, int kbps, bool copyright, bool crc, bool original,
                 bool priv, std::uint8_t out[4]);

// Length of the Info frame for an audio header: a frame of the stream's bitrate, or of the
// lowest one that holds the tag.
std::size_t InfoFrameLength(const std::uint8_t audioHeader[4]);

// A CBR Xing "Info" frame with a LAME extension, of InfoFrameLength bytes.
std::vector<std::uint8_t> BuildInfoFrame(const std::uint8_t audioHeader[4], const InfoFields &f);

// Frames an encoder stream of this library makes for n samples, and the padding it adds.
std::uint32_t StreamFrames(std::int64_t samples, int frameSamples);
int StreamPadding(std::int64_t samples, std::uint32_t frames, int frameSamples);

// Bytes of the first `frames` frames of a constant-bitrate stream: the library pads a frame
// (never the first) whenever the stream has fallen a whole byte behind the bitrate.
std::uint64_t StreamBytes(std::uint32_t frames, int frameSamples, int kbps, int sampleRate);
// Frames after which that padding repeats, whatever the bitrate (every one is a multiple of
// 8 kbps): streams that start a multiple of it apart pad the same frames.
int PaddingPeriod(int frameSamples, int sampleRate);

} // namespace mp3
