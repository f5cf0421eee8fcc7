#pragma once

#include <stdexcept>
#include <string>

namespace tandrel {

// Raised by IniFile::WriteString when the file cannot be written.
class IniWriteError : public std::runtime_error {
public:
    explicit IniWriteError(const std::string &path);
    const std::string &Path() const { return path_; }

private:
    std::string path_;
};

// An INI file with private-profile semantics: section and key names match without regard
// to case, blanks around a value are dropped and one pair of enclosing quotes removed,
// values are cut to 2047 characters, a missing file, section or key gives the default,
// and a write keeps every other line of the file. Nothing is cached: every call goes to
// the file on disk. Values are returned as the bytes the file holds.
class IniFile {
public:
    static constexpr std::size_t kMaxValue = 2047;

    explicit IniFile(std::string path) : path_(std::move(path)) {}
    const std::string &Path() const { return path_; }

    std::string ReadString(const std::string &section, const std::string &key,
                           const std::string &defaultValue) const;
    // Throws IniWriteError("Unable to write to <path>") on failure.
    void WriteString(const std::string &section, const std::string &key,
                     const std::string &value) const;

    // The same lookup on text already in memory.
    static bool Lookup(const std::string &text, const std::string &section, const std::string &key,
                       std::string &value);

private:
    std::string path_;
};

// Removes leading and trailing blanks and control characters.
std::string TrimBlanks(const std::string &text);

} // namespace tandrel
