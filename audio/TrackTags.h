#pragma once

#include "audio/Track.h"

#include <string>

namespace tandrel {

// The tag names a track keeps, in this order: "title", "artist", "albumartist", "album",
// "track", "disc", "date", "genre", "comment".
const std::vector<std::string> &TrackTagNames();

// Reads the tags (see TrackTagNames) of a track whose container and codec are known, and
// whether it has a picture, through TagLib: ID3v1/ID3v2, RIFF INFO, ASF attributes, Vorbis
// comments, MP4 atoms, APE tags. With withPicture it keeps its front cover (else its first
// picture) too, which a long list of tracks should not all hold. Tag areas larger than a sane
// cover allows, or of thousands of frames, are not read at all, so that no file can make
// probing slow or large.
void ReadTrackTags(Track &track, bool withPicture = false);

// A tag by name among (name, value) pairs; empty when there is none.
std::string TagValue(const std::vector<std::pair<std::string, std::string>> &tags,
                     const std::string &name);
// A tag of the track by name; empty when it has none.
inline std::string TrackTag(const Track &track, const std::string &name) {
    return TagValue(track.tags, name);
}

} // namespace tandrel
