#include "encoders/wmaudsdk/AsfHeader.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
}

namespace wmaudsdk {
namespace {

// Attribute texts and marker names in units of UTF-16, at most: the file stores their byte
// counts, terminator included, in 16 bits.
constexpr std::size_t kMaxTextUnits = 32766;

void AppendUtf8(std::uint32_t c, std::string &out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

bool Utf16ToUtf8(const char16_t *in, std::string &out, bool keepBytes) {
    out.clear();
    for (; *in; ++in) {
        std::uint32_t c = *in;
        if (c >= 0xD800 && c <= 0xDBFF && in[1] >= 0xDC00 && in[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[1] - 0xDC00);
            ++in;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (!keepBytes) {
                c = 0xFFFD;
            } else if (c >= 0xDC80 && c <= 0xDCFF) {
                out += static_cast<char>(c - 0xDC00);
                continue;
            } else {
                return false;
            }
        }
        AppendUtf8(c, out);
    }
    return true;
}

bool TextToUtf8(const char16_t *in, std::string &out) {
    return std::char_traits<char16_t>::length(in) <= kMaxTextUnits && Utf16ToUtf8(in, out, false);
}

// The objects of the ASF header at the start of bytes (size of them); 0 when the header is not
// all there or does not hold together.
std::uint32_t HeaderObjects(const std::uint8_t *bytes, std::size_t size) {
    if (size < 30 || AV_RL64(bytes + 16) > size)
        return 0;
    const std::uint64_t end = AV_RL64(bytes + 16);
    std::uint32_t count = 0;
    for (std::uint64_t at = 30; at < end; ++count) {
        const std::uint64_t object = end - at >= 24 ? AV_RL64(bytes + at + 16) : 0;
        if (object < 24 || object > end - at)
            return 0;
        at += object;
    }
    return count;
}

bool AddChapter(AVFormatContext *format, const std::string &title, std::int64_t start) {
    const unsigned count = format->nb_chapters;
    auto *chapter = static_cast<AVChapter *>(av_mallocz(sizeof(AVChapter)));
    auto *chapters = static_cast<AVChapter **>(
        av_realloc_array(format->chapters, count + 1, sizeof(AVChapter *)));
    if (chapters)
        format->chapters = chapters;
    if (!chapter || !chapters ||
        (!title.empty() && av_dict_set(&chapter->metadata, "title", title.c_str(), 0) < 0)) {
        if (chapter)
            av_dict_free(&chapter->metadata);
        av_free(chapter);
        return false;
    }
    chapter->id = count + 1;
    chapter->time_base = AVRational{1, 10000000};
    chapter->start = chapter->end = start;
    if (count > 0)
        format->chapters[count - 1]->end = chapter->start;
    format->chapters[count] = chapter;
    format->nb_chapters = count + 1;
    return true;
}

} // namespace wmaudsdk
