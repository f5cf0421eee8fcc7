#pragma once

#include "audio/WavChunks.h"

#include <cstdint>
#include <string>

struct TWaveInfo {
    std::int32_t Channels;
    std::int32_t SampleRate;
    std::int32_t BitsPerSample;
    std::uint32_t DataSize; // the data bytes the file holds, at most 0xFFFFFFFF
    std::uint32_t FileSize; // DataSize + 44, not the size on disk
    std::uint32_t Seconds;
};

// Reads the header of a plain PCM wave file up to the start of its samples. On false the
// user has seen one message and Info must not be used. chunks, when given, receives the
// walk of the file with its 64-bit sizes.
bool ReadWaveInfo(const std::string &fileName, TWaveInfo &info,
                  tandrel::WavChunks *chunks = nullptr);
