#pragma once

#include <cstdint>
#include <string>

namespace tandrel {

// The largest part of the file a tag reader would load whole, from its headers alone: an
// ID3v2 tag at the start (the largest size there is when it holds thousands of frames), the
// FLAC metadata blocks together, a RIFF or AIFF chunk other than the samples, an MP4 item
// list, an ASF header. 0 when there is none or the file cannot be read.
std::uint64_t LargestTagArea(const std::string &path, const std::string &container);

} // namespace tandrel
