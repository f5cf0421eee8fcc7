#include "audio/TrackTags.h"

#include "audio/TagAreas.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/tfilestream.h>
#include <taglib/tpropertymap.h>
#include <taglib/trueaudiofile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace tandrel {
namespace {

// A tag area (a cover, mostly) beyond this is not read: no file makes probing large (a
// reader holds the area, the picture and a copy of it at once).
constexpr std::uint64_t kMaxTagArea = 8 << 20;

struct TagName {
    const char *property; // TagLib's unified name
    const char *name;
};
constexpr TagName kTagNames[] = {
    {"TITLE", "title"}, {"ARTIST", "artist"},     {"ALBUMARTIST", "albumartist"},
    {"ALBUM", "album"}, {"TRACKNUMBER", "track"}, {"DISCNUMBER", "disc"},
    {"DATE", "date"},   {"GENRE", "genre"},       {"COMMENT", "comment"}};

std::string Trimmed(std::string text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.back()))
        text.pop_back();
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    return text;
}

void TakeProperties(const TagLib::PropertyMap &map, Track &track) {
    for (const TagName &n : kTagNames) {
        const auto it = map.find(n.property);
        if (it == map.end() || it->second.isEmpty())
            continue;
        std::string value = Trimmed(it->second.front().to8Bit(true));
        if (!value.empty())
            track.tags.emplace_back(n.name, std::move(value));
    }
}

// Set while reading: whether the picture itself is wanted.
thread_local bool t_withPicture = false;

void TakePicture(Track &track, const std::string &mime, const TagLib::String &description,
                 const TagLib::ByteVector &data) {
    if (data.isEmpty() || data.size() > kMaxTagArea)
        return;
    track.hasPicture = true;
    if (!t_withPicture)
        return;
    track.pictures.push_back(
        {mime, description.to8Bit(true), std::vector<std::uint8_t>(data.begin(), data.end())});
}

void Id3Picture(TagLib::ID3v2::Tag *tag, Track &track) {
    if (!tag)
        return;
    using TagLib::ID3v2::AttachedPictureFrame;
    const AttachedPictureFrame *chosen = nullptr;
    for (TagLib::ID3v2::Frame *frame : tag->frameList("APIC")) {
        const auto *p = dynamic_cast<const AttachedPictureFrame *>(frame);
        if (p && (!chosen || (p->type() == AttachedPictureFrame::FrontCover &&
                              chosen->type() != AttachedPictureFrame::FrontCover)))
            chosen = p;
    }
    if (chosen)
        TakePicture(track, chosen->mimeType().to8Bit(), chosen->description(), chosen->picture());
}

void FlacPicture(const TagLib::List<TagLib::FLAC::Picture *> &pictures, Track &track) {
    const TagLib::FLAC::Picture *chosen = nullptr;
    for (const TagLib::FLAC::Picture *p : pictures)
        if (!chosen || (p->type() == TagLib::FLAC::Picture::FrontCover &&
                        chosen->type() != TagLib::FLAC::Picture::FrontCover))
            chosen = p;
    if (chosen)
        TakePicture(track, chosen->mimeType().to8Bit(), chosen->description(), chosen->data());
}

void Mp4Picture(TagLib::MP4::Tag *tag, Track &track) {
    if (!tag || !tag->contains("covr"))
        return;
    const TagLib::MP4::CoverArtList covers = tag->item("covr").toCoverArtList();
    if (covers.isEmpty())
        return;
    const TagLib::MP4::CoverArt &c = covers.front();
    const char *mime = c.format() == TagLib::MP4::CoverArt::PNG   ? "image/png"
                       : c.format() == TagLib::MP4::CoverArt::BMP ? "image/bmp"
                       : c.format() == TagLib::MP4::CoverArt::GIF ? "image/gif"
                                                                  : "image/jpeg";
    TakePicture(track, mime, TagLib::String(), c.data());
}

void AsfPicture(TagLib::ASF::Tag *tag, Track &track) {
    if (!tag || !tag->contains("WM/Picture"))
        return;
    for (const TagLib::ASF::Attribute &a : tag->attribute("WM/Picture")) {
        const TagLib::ASF::Picture p = a.toPicture();
        if (p.isValid()) {
            TakePicture(track, p.mimeType().to8Bit(), p.description(), p.picture());
            return;
        }
    }
}

// The file read through stream; the classes of ID3v2-tagged files also take the frame factory.
template <typename File> std::unique_ptr<File> OpenWith(TagLib::IOStream *stream) {
    if constexpr (std::is_constructible_v<File, TagLib::IOStream *, bool>)
        return std::make_unique<File>(stream, false);
    else
        return std::make_unique<File>(stream, TagLib::ID3v2::FrameFactory::instance(), false);
}

// Reads the file as the class its container calls for; Picture takes its cover. The file is
// opened for reading only: TagLib's own way opens it for writing too, which those watching
// the folder see as a change, and a read-only mount refuses.
template <typename File, typename Picture>
void ReadWith(const Track &track, Track &out, Picture picture) {
    TagLib::FileStream stream(track.path.c_str(), true);
    if (!stream.isOpen())
        return;
    const std::unique_ptr<File> opened = OpenWith<File>(&stream);
    File &file = *opened;
    if (!file.isValid())
        return;
    TakeProperties(file.properties(), out);
    picture(file, out);
}

void ReadByContainer(const Track &t, Track &out) {
    const auto none = [](auto &, Track &) {};
    const std::string &c = t.container;
    if (c == "MP3" || c == "MPEG")
        ReadWith<TagLib::MPEG::File>(t, out,
                                     [](auto &f, Track &o) { Id3Picture(f.ID3v2Tag(), o); });
    else if (c == "WAV")
        ReadWith<TagLib::RIFF::WAV::File>(t, out,
                                          [](auto &f, Track &o) { Id3Picture(f.ID3v2Tag(), o); });
    else if (c == "AIFF")
        ReadWith<TagLib::RIFF::AIFF::File>(t, out,
                                           [](auto &f, Track &o) { Id3Picture(f.tag(), o); });
    else if (c == "ASF")
        ReadWith<TagLib::ASF::File>(t, out, [](auto &f, Track &o) { AsfPicture(f.tag(), o); });
    else if (c == "FLAC")
        ReadWith<TagLib::FLAC::File>(t, out,
                                     [](auto &f, Track &o) { FlacPicture(f.pictureList(), o); });
    else if (c == "MP4")
        ReadWith<TagLib::MP4::File>(t, out, [](auto &f, Track &o) { Mp4Picture(f.tag(), o); });
    else if (c == "Ogg" && t.codec == "vorbis")
        ReadWith<TagLib::Ogg::Vorbis::File>(
            t, out, [](auto &f, Track &o) { FlacPicture(f.tag()->pictureList(), o); });
    else if (c == "Ogg" && t.codec == "opus")
        ReadWith<TagLib::Ogg::Opus::File>(
            t, out, [](auto &f, Track &o) { FlacPicture(f.tag()->pictureList(), o); });
    else if (c == "Ogg" && t.codec == "flac")
        ReadWith<TagLib::Ogg::FLAC::File>(
            t, out, [](auto &f, Track &o) { FlacPicture(f.tag()->pictureList(), o); });
    else if (c == "WavPack")
        ReadWith<TagLib::WavPack::File>(t, out, none);
    else if (c == "APE")
        ReadWith<TagLib::APE::File>(t, out, none);
    else if (c == "TTA")
        ReadWith<TagLib::TrueAudio::File>(t, out, none);
}

} // namespace

const std::vector<std::string> &TrackTagNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const TagName &n : kTagNames)
            out.emplace_back(n.name);
        return out;
    }();
    return names;
}

void ReadTrackTags(Track &track, bool withPicture) {
    track.tags.clear();
    track.pictures.clear();
    track.hasPicture = false;
    if (LargestTagArea(track.path, track.container) > kMaxTagArea)
        return;
    t_withPicture = withPicture;
    ReadByContainer(track, track);
}

std::string TagValue(const std::vector<std::pair<std::string, std::string>> &tags,
                     const std::string &name) {
    for (const auto &[key, value] : tags)
        if (key == name)
            return value;
    return {};
}

} // namespace tandrel
