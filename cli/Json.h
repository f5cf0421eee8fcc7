#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tandrel::cli {

// Builds one JSON document, indented by two spaces per level. Keys and string values are
// taken as UTF-8; bytes that are not valid UTF-8 (file names may hold any) are written as
// the lone surrogates U+DC80..U+DCFF, as Python's "surrogateescape" decodes them, so that
// the name can be turned back into its bytes.
class JsonWriter {
public:
    void BeginObject(const char *key = nullptr) { Open(key, '{'); }
    void EndObject() { Close('}'); }
    void BeginArray(const char *key = nullptr) { Open(key, '['); }
    void EndArray() { Close(']'); }
    void String(const char *key, const std::string &value);
    void Number(const char *key, std::uint64_t value);
    void Number(const char *key, double value);
    void Bool(const char *key, bool value);
    void Null(const char *key);
    // The document so far, with a final newline once every object and array is closed.
    std::string Text() const { return out_ + (open_.empty() ? "\n" : ""); }

private:
    void Open(const char *key, char bracket);
    void Close(char bracket);
    void Item(const char *key);

    std::string out_;
    std::vector<bool> open_; // per level: whether it has an item yet
};

// A JSON string literal for text, quotes included.
std::string JsonQuoted(const std::string &text);

} // namespace tandrel::cli
