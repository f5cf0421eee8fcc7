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

// A tag of the track by name; empty when it has none.
std::string TrackTag(const Track &track, const std::string &name);

} // namespace tandrel
