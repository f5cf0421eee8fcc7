#pragma once

#include <cstdint>
#include <string>

struct TWaveInfo {
    std::int32_t Channels;
    std::int32_t SampleRate;
    std::int32_t BitsPerSample;
    std::uint32_t DataSize; // as declared by the "data" chunk
    std::uint32_t FileSize; // DataSize + 44, not the size on disk
    std::uint32_t Seconds;
};

// Reads the header of a plain PCM wave file up to the start of its samples. On false the
// user has seen one message and Info must not be used.
bool ReadWaveInfo(const std::string &fileName, TWaveInfo &info);
