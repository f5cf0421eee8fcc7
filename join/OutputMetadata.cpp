#include "join/OutputMetadata.h"

#include "audio/Probe.h"
#include "audio/TrackTags.h"

namespace tandrel {

std::string OutputMetadata::Tag(const std::string &name) const {
    return TagValue(tags, name);
}

void SetOutputTag(OutputMetadata &metadata, const std::string &name, const std::string &value) {
    if (value.empty())
        return;
    for (auto &[key, old] : metadata.tags)
        if (key == name) {
            old = value;
            return;
        }
    metadata.tags.emplace_back(name, value);
}

OutputMetadata AlbumMetadata(const Track &first) {
    OutputMetadata m;
    const std::string album = TrackTag(first, "album");
    const std::string artist = TrackTag(first, "artist");
    const std::string albumArtist = TrackTag(first, "albumartist");
    SetOutputTag(m, "title", album.empty() ? TrackTag(first, "title") : album);
    SetOutputTag(m, "artist", albumArtist.empty() ? artist : albumArtist);
    SetOutputTag(m, "albumartist", albumArtist);
    SetOutputTag(m, "album", album);
    SetOutputTag(m, "date", TrackTag(first, "date"));
    SetOutputTag(m, "genre", TrackTag(first, "genre"));
    if (!first.pictures.empty())
        m.pictures.push_back(first.pictures.front());
    return m;
}

std::string ChapterTitle(const Track &track) {
    const std::string title = TrackTag(track, "title");
    if (!title.empty())
        return title;
    const std::string name = FileNameOf(track.path);
    const std::string stem = name.substr(0, name.size() - ExtensionOf(track.path).size());
    return stem.empty() ? name : stem;
}

std::uint32_t FramesToMs(std::uint64_t frames, int rate) {
    if (rate <= 0)
        return 0;
    const std::uint64_t ms = (frames * 1000 + std::uint64_t(rate) / 2) / std::uint64_t(rate);
    return ms > 0xFFFFFFFFu ? 0xFFFFFFFFu : std::uint32_t(ms);
}

} // namespace tandrel
