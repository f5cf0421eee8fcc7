#pragma once

#include "audio/Track.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tandrel {

// Where one input starts in the output, in sample frames at the output's rate, and its
// title (its title tag, else its file name without the extension).
struct Chapter {
    std::uint64_t startFrame = 0;
    std::uint64_t endFrame = 0;
    std::string title;
};

// What an output carries besides its audio, when asked for: album-level tags (the first
// input's, or given by hand) with a cover, and one chapter per input.
struct OutputMetadata {
    // ("title", ...), ("artist", ...), ("albumartist", ...), ("album", ...), ("date", ...),
    // ("genre", ...), ("comment", ...): the names of TrackTagNames.
    std::vector<std::pair<std::string, std::string>> tags;
    std::vector<TrackPicture> pictures; // the front cover, at most one
    bool writeChapters = false;
    // The chapters; before the join has placed every input these are foreseen (see
    // chaptersFinal), their titles always right.
    std::vector<Chapter> chapters;
    bool chaptersFinal = false;

    bool Empty() const { return tags.empty() && pictures.empty() && !writeChapters; }
    // A tag by name; empty when there is none.
    std::string Tag(const std::string &name) const;
};

// The tags an output takes from its first input: album, album artist (else artist), artist,
// date, genre, and the album (else the first title) as its title; its cover.
OutputMetadata AlbumMetadata(const Track &first);
// Replaces (or adds) a tag; an empty value leaves it as it was.
void SetOutputTag(OutputMetadata &metadata, const std::string &name, const std::string &value);
// A chapter's title for an input: its title tag, else its file name without the extension.
std::string ChapterTitle(const Track &track);

// Milliseconds of frames at rate, rounded to the nearest (halves up).
std::uint32_t FramesToMs(std::uint64_t frames, int rate);

} // namespace tandrel
