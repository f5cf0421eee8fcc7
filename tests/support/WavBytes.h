#pragma once

#include "TestUtil.h"

#include <cstdint>
#include <string>

// Wave files put together chunk by chunk, for headers that BuildWav does not make.
namespace wavbytes {

inline std::string ChunkHeader(const std::string &id, std::uint32_t size) {
    std::string out = id;
    testutil::PutLE32(out, size);
    return out;
}

// A chunk with its body, and the pad byte after an odd body when pad is set.
inline std::string Chunk(const std::string &id, const std::string &body, bool pad = true) {
    std::string out = ChunkHeader(id, static_cast<std::uint32_t>(body.size())) + body;
    if (pad && body.size() % 2)
        out += '\0';
    return out;
}

inline std::string FormatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                              std::uint16_t bits) {
    std::string out;
    const std::uint16_t align = static_cast<std::uint16_t>(channels * bits / 8);
    testutil::PutLE16(out, tag);
    testutil::PutLE16(out, channels);
    testutil::PutLE32(out, rate);
    testutil::PutLE32(out, rate * align);
    testutil::PutLE16(out, align);
    testutil::PutLE16(out, bits);
    return out;
}

// A 40-byte WAVE_FORMAT_EXTENSIBLE body whose sub-format GUID starts with subFormat
// (1 for PCM, 3 for float).
inline std::string ExtensibleBody(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                                  std::uint32_t subFormat) {
    std::string out = FormatBody(0xFFFE, channels, rate, bits);
    testutil::PutLE16(out, 22);
    testutil::PutLE16(out, bits);
    testutil::PutLE32(out, channels == 2 ? 3 : 4);
    testutil::PutLE32(out, subFormat);
    out += std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
    return out;
}

inline std::string Riff(const std::string &chunks) {
    std::string out = "RIFF";
    testutil::PutLE32(out, static_cast<std::uint32_t>(chunks.size() + 4));
    return out + "WAVE" + chunks;
}

// A plain PCM file: "fmt ", the chunks given, "data".
inline std::string PcmWav(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                          const std::string &chunks, const std::string &data) {
    return Riff(Chunk("fmt ", FormatBody(1, channels, rate, bits)) + chunks + Chunk("data", data));
}

} // namespace wavbytes
