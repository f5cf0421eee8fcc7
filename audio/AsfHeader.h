#pragma once

#include <cstdint>

namespace tandrel {

// What the File Properties object in the header of an ASF (WMA) file states.
struct AsfHeader {
    bool found = false;
    bool broadcast = false; // sizes and durations are not filled in
    std::uint64_t fileSize = 0;
    // Play time less the preroll, in units of 100 ns.
    std::uint64_t duration = 0;
};

AsfHeader ReadAsfHeader(int fd, std::uint64_t fileSize);

} // namespace tandrel
