#pragma once

#include "join/OutputMetadata.h"

#include <cstdint>
#include <vector>

namespace tandrel {

// An ID3v2.4 tag for the start of an MP3 file, rendered by TagLib: the tags as text frames
// (TIT2, TPE1, TPE2, TALB, TDRC, TCON, COMM), the cover as an APIC frame and, with chapters,
// one CHAP frame per chapter (start and end in milliseconds at rate, a TIT2 inside) under one
// top-level, ordered CTOC. Chapters whose times are not known yet render at the same size as
// the known ones will, so that the tag can be written again in its place. Empty when there is
// nothing to write.
std::vector<std::uint8_t> RenderId3Tag(const OutputMetadata &metadata, int rate, bool chapters);

} // namespace tandrel
