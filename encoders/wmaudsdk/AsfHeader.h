#pragma once

// Texts and objects of the ASF header, for the WMA writer library.

#include <cstddef>
#include <cstdint>
#include <string>

struct AVFormatContext;

namespace wmaudsdk {

// Converts in to UTF-8. A file name (keepBytes): U+DC80..U+DCFF alone carry bytes of a name
// that was not valid UTF-8 and become those bytes again; any other lone surrogate makes the
// name invalid (false). A text: every lone surrogate becomes U+FFFD, since the header stores
// valid UTF-16 only.
bool Utf16ToUtf8(const char16_t *in, std::string &out, bool keepBytes);
// A text for the header as UTF-8; false when it is too long for the header's 16-bit byte
// counts.
bool TextToUtf8(const char16_t *in, std::string &out);

// The objects of the ASF header at the start of bytes (size of them); 0 when the header is not
// all there or does not hold together.
std::uint32_t HeaderObjects(const std::uint8_t *bytes, std::size_t size);

// Adds a chapter at start (100-ns units), titled title unless it is empty; false when out
// of memory.
bool AddChapter(AVFormatContext *format, const std::string &title, std::int64_t start);

} // namespace wmaudsdk
