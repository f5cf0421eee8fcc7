#pragma once

#include <cstdint>

namespace tandrel {

inline constexpr std::uint16_t kWavPcmTag = 1;
inline constexpr std::uint16_t kWavExtensibleTag = 0xFFFE;

// Where the samples of a wave file lie and how they are laid out, as its chunks state them.
struct WavChunks {
    // kWavPcmTag also for an extensible file whose sub-format is PCM.
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bits = 0;
    std::uint16_t blockAlign = 0;
    bool rf64 = false;
    std::uint64_t dataOffset = 0;
    // The data size the header states (from "ds64" for RF64 files).
    std::uint64_t declaredBytes = 0;
    // declaredBytes clamped to what the file holds after dataOffset.
    std::uint64_t availableBytes = 0;
};

// Walks the chunks of the RIFF or RF64 wave file open as fd (size bytes long) up to its
// "data" chunk. False when it is none: no "fmt " chunk of at least 16 bytes before the data,
// a chunk that runs past the end of the file before the data, an RF64 file without "ds64".
bool ReadWavChunks(int fd, std::uint64_t size, WavChunks &out);

// Sample rates a wave file is read at, from 1,000 to 768,000 Hz.
bool WavRateInRange(std::uint32_t rate);

} // namespace tandrel
