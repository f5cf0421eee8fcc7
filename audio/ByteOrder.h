#pragma once

#include <cstdint>

namespace tandrel {

// Numbers as files store them: four bytes big- or little-endian, and ID3v2's four 7-bit bytes.
inline std::uint32_t Be32(const unsigned char *p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

inline std::uint32_t Le32(const unsigned char *p) {
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

inline std::uint64_t Syncsafe(const unsigned char *p) {
    return std::uint64_t(p[0] & 0x7F) << 21 | (p[1] & 0x7F) << 14 | (p[2] & 0x7F) << 7 |
           (p[3] & 0x7F);
}

} // namespace tandrel
