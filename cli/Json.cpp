#include "cli/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace tandrel::cli {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
std::size_t Utf8Length(const std::string &s, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char c = byte(i);
    std::size_t n;
    std::uint32_t cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, cp = c & 0x07;
    else
        return 0;
    if (i + n > s.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

std::string JsonQuoted(const std::string &text) {
    std::string out = "\"";
    char hex[8];
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = Utf8Length(text, i);
        if (n == 0) {
            std::snprintf(hex, sizeof hex, "\\udc%02x", c);
            out += hex;
            ++i;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out.append(text, i, n);
        }
        i += n;
    }
    return out + "\"";
}

void JsonWriter::Item(const char *key) {
    if (!open_.empty()) {
        out_ += open_.back() ? ",\n" : "\n";
        open_.back() = true;
        out_.append(2 * open_.size(), ' ');
    }
    if (key)
        out_ += JsonQuoted(key) + ": ";
}

void JsonWriter::Open(const char *key, char bracket) {
    Item(key);
    out_ += bracket;
    open_.push_back(false);
}

void JsonWriter::Close(char bracket) {
    const bool any = open_.back();
    open_.pop_back();
    if (any) {
        out_ += '\n';
        out_.append(2 * open_.size(), ' ');
    }
    out_ += bracket;
}

void JsonWriter::String(const char *key, const std::string &value) {
    Item(key);
    out_ += JsonQuoted(value);
}

void JsonWriter::Number(const char *key, std::uint64_t value) {
    Item(key);
    out_ += std::to_string(value);
}

void JsonWriter::Number(const char *key, double value) {
    Item(key);
    if (!std::isfinite(value)) {
        out_ += "null";
        return;
    }
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out_.append(text, end);
}

void JsonWriter::Bool(const char *key, bool value) {
    Item(key);
    out_ += value ? "true" : "false";
}

void JsonWriter::Null(const char *key) {
    Item(key);
    out_ += "null";
}

} // namespace tandrel::cli
