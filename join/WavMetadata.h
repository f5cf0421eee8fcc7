#pragma once

#include "join/OutputMetadata.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tandrel {

// The chunks a WAV file carries after its data for its tags and chapters, in order:
// "LIST"/"INFO" with the tags INFO has a field for (INAM title, IART artist, IPRD album,
// ICRD date, IGNR genre, ICMT comment), then, when there are chapters, "cue " with one cue
// point per chapter (named 1..N, at its first frame in "data") and "LIST"/"adtl" with one
// "labl" per cue point. Texts are written as UTF-8, NUL-terminated, each chunk padded to an
// even size; ffmpeg and TagLib read INFO as UTF-8. Chapters starting after frames, or where
// the 32-bit cue position cannot reach, are left out. Empty when there is nothing to write.
std::vector<std::uint8_t>
WavMetadataChunks(const std::vector<std::pair<std::string, std::string>> &tags,
                  const std::vector<Chapter> &chapters, std::uint64_t frames);

} // namespace tandrel
