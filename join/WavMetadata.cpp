#include "join/WavMetadata.h"

#include <cstring>
#include <limits>

namespace tandrel {
namespace {

struct InfoField {
    const char *tag;
    const char *id;
};
constexpr InfoField kInfoFields[] = {{"title", "INAM"}, {"artist", "IART"}, {"album", "IPRD"},
                                     {"date", "ICRD"},  {"genre", "IGNR"},  {"comment", "ICMT"}};

class Chunks {
public:
    void Id(const char *id) { bytes_.insert(bytes_.end(), id, id + 4); }
    void Le32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(std::uint8_t(v >> (8 * i)));
    }
    // Opens a chunk whose size is filled in by End.
    std::size_t Begin(const char *id) {
        Id(id);
        Le32(0);
        return bytes_.size();
    }
    void End(std::size_t body) {
        const std::uint32_t size = std::uint32_t(bytes_.size() - body);
        for (int i = 0; i < 4; ++i)
            bytes_[body - 4 + i] = std::uint8_t(size >> (8 * i));
        if (size & 1)
            bytes_.push_back(0);
    }
    // Text up to its first NUL, and the NUL.
    void Text(const std::string &text) {
        const char *s = text.c_str();
        bytes_.insert(bytes_.end(), s, s + std::strlen(s) + 1);
    }
    std::vector<std::uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
};

void PutInfo(Chunks &out, const std::vector<std::pair<std::string, std::string>> &tags) {
    std::size_t list = 0;
    for (const InfoField &field : kInfoFields) {
        for (const auto &[name, value] : tags) {
            if (name != field.tag || value.empty() || value[0] == '\0')
                continue;
            if (list == 0) {
                list = out.Begin("LIST");
                out.Id("INFO");
            }
            const std::size_t body = out.Begin(field.id);
            out.Text(value);
            out.End(body);
            break;
        }
    }
    if (list != 0)
        out.End(list);
}

void PutCues(Chunks &out, const std::vector<const Chapter *> &cues) {
    std::size_t body = out.Begin("cue ");
    out.Le32(std::uint32_t(cues.size()));
    for (std::size_t i = 0; i < cues.size(); ++i) {
        const auto frame = std::uint32_t(cues[i]->startFrame);
        out.Le32(std::uint32_t(i + 1)); // dwName
        out.Le32(frame);                // dwPosition
        out.Id("data");
        out.Le32(0); // dwChunkStart
        out.Le32(0); // dwBlockStart
        out.Le32(frame);
    }
    out.End(body);
    body = out.Begin("LIST");
    out.Id("adtl");
    for (std::size_t i = 0; i < cues.size(); ++i) {
        const std::size_t label = out.Begin("labl");
        out.Le32(std::uint32_t(i + 1));
        out.Text(cues[i]->title);
        out.End(label);
    }
    out.End(body);
}

} // namespace

std::vector<std::uint8_t>
WavMetadataChunks(const std::vector<std::pair<std::string, std::string>> &tags,
                  const std::vector<Chapter> &chapters, std::uint64_t frames) {
    Chunks out;
    PutInfo(out, tags);
    std::vector<const Chapter *> cues;
    for (const Chapter &c : chapters)
        if (c.startFrame <= frames && c.startFrame <= std::numeric_limits<std::uint32_t>::max())
            cues.push_back(&c);
    if (!cues.empty())
        PutCues(out, cues);
    return out.Take();
}

} // namespace tandrel
