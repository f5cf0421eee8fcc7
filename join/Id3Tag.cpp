#include "join/Id3Tag.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/chapterframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>

#include <string>

namespace tandrel {
namespace {

using namespace TagLib;

constexpr unsigned kNoOffset = 0xFFFFFFFF; // CHAP offsets unused: times rule
constexpr unsigned kMaxTocEntries = 255;   // a CTOC counts its entries in one byte

ID3v2::Frame *TextFrame(const char *id, const std::string &text) {
    auto *frame = new ID3v2::TextIdentificationFrame(ByteVector(id, 4), String::UTF8);
    frame->setText(String(text, String::UTF8));
    return frame;
}

void AddTags(ID3v2::Tag &tag, const OutputMetadata &m) {
    static const std::pair<const char *, const char *> kFrames[] = {
        {"title", "TIT2"}, {"artist", "TPE1"}, {"albumartist", "TPE2"},
        {"album", "TALB"}, {"date", "TDRC"},   {"genre", "TCON"}};
    for (const auto &[name, id] : kFrames)
        if (const std::string value = m.Tag(name); !value.empty())
            tag.addFrame(TextFrame(id, value));
    if (const std::string comment = m.Tag("comment"); !comment.empty()) {
        auto *frame = new ID3v2::CommentsFrame(String::UTF8);
        frame->setLanguage("eng");
        frame->setText(String(comment, String::UTF8));
        tag.addFrame(frame);
    }
    for (const TrackPicture &p : m.pictures) {
        auto *frame = new ID3v2::AttachedPictureFrame;
        frame->setTextEncoding(String::UTF8);
        frame->setMimeType(p.mimeType);
        frame->setDescription(String(p.description, String::UTF8));
        frame->setType(ID3v2::AttachedPictureFrame::FrontCover);
        frame->setPicture(ByteVector(reinterpret_cast<const char *>(p.data.data()),
                                     static_cast<unsigned>(p.data.size())));
        tag.addFrame(frame);
    }
}

ID3v2::TableOfContentsFrame *Toc(const std::string &id, const ByteVectorList &children,
                                 bool topLevel) {
    auto *toc = new ID3v2::TableOfContentsFrame(ByteVector(id.c_str()), children);
    toc->setIsTopLevel(topLevel);
    toc->setIsOrdered(true);
    return toc;
}

// A table of contents holds at most 255 entries: more chapters go into tables of 255 under
// the top-level one.
void AddChapters(ID3v2::Tag &tag, const OutputMetadata &m, int rate) {
    ByteVectorList children, tables, group;
    for (std::size_t i = 0; i < m.chapters.size(); ++i) {
        const Chapter &c = m.chapters[i];
        const ByteVector id(("chp" + std::to_string(i)).c_str());
        children.append(id);
        ID3v2::FrameList embedded;
        embedded.append(TextFrame("TIT2", c.title));
        tag.addFrame(new ID3v2::ChapterFrame(id, FramesToMs(c.startFrame, rate),
                                             FramesToMs(c.endFrame, rate), kNoOffset, kNoOffset,
                                             embedded));
    }
    if (children.size() <= kMaxTocEntries) {
        tag.addFrame(Toc("toc", children, true));
        return;
    }
    for (unsigned i = 0; i < children.size(); ++i) {
        group.append(children[i]);
        if (group.size() == kMaxTocEntries || i + 1 == children.size()) {
            const std::string id = "toc" + std::to_string(tables.size());
            tables.append(ByteVector(id.c_str()));
            tag.addFrame(Toc(id, group, false));
            group.clear();
        }
    }
    tag.addFrame(Toc("toc", tables, true));
}

} // namespace

std::vector<std::uint8_t> RenderId3Tag(const OutputMetadata &metadata, int rate, bool chapters) {
    ID3v2::Tag tag;
    AddTags(tag, metadata);
    if (chapters && metadata.writeChapters && !metadata.chapters.empty())
        AddChapters(tag, metadata, rate);
    if (tag.frameList().isEmpty())
        return {};
    const ByteVector data = tag.render(ID3v2::v4);
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

} // namespace tandrel
