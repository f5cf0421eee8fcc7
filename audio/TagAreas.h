#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tandrel {

// The largest part of the file a tag reader would load whole, from its headers alone: an
// ID3v2 tag at the start (the largest size there is when it holds thousands of frames), the
// FLAC metadata blocks together, a RIFF or AIFF chunk other than the samples, an MP4 item
// list, an ASF header. 0 when there is none or the file cannot be read.
std::uint64_t LargestTagArea(const std::string &path, const std::string &container);

// The picture blocks of a FLAC file open as fd, as (header offset, end offset); empty for any
// other file. A decoder reads them as padding, so that no picture is loaded to decode audio.
std::vector<std::pair<std::uint64_t, std::uint64_t>> FlacPictureBlocks(int fd);

} // namespace tandrel
