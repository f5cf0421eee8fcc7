#include "lang/IniFile.h"

#include <cstdlib>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

namespace tandrel {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ')
        ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ')
        --e;
    return s.substr(b, e - b);
}

bool ReadAll(const std::string &path, std::string &text) {
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return false;
    std::ostringstream ss;
    ss << f.rdbuf();
    text = ss.str();
    return true;
}

// Splits into lines without their line ends.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string_view::npos ? text.size() : nl;
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The section name of a "[name]" line, or false.
bool SectionName(std::string_view line, std::string_view &name) {
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[')
        return false;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos)
        return false;
    name = Trim(line.substr(1, close - 1));
    return true;
}

// Key and raw value of a "key=value" line, or false.
bool KeyValue(std::string_view line, std::string_view &key, std::string_view &value) {
    std::string_view t = Trim(line);
    if (t.empty() || t.front() == ';')
        return false;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return true;
}

std::string CleanValue(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > IniFile::kMaxValue)
        v = v.substr(0, IniFile::kMaxValue);
    return std::string(v);
}

// A settings file in a folder of its own (~/.config/tandrel/) makes the folder on its first write.
void MakeParentFolders(const std::string &path) {
    for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        ::mkdir(path.substr(0, at).c_str(), 0700);
}

bool WriteWhole(const std::string &path, const std::string &bytes) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0) && ok;
}

} // namespace

IniWriteError::IniWriteError(const std::string &path)
    : std::runtime_error("Unable to write to " + path), path_(path) {}

bool IniFile::Lookup(const std::string &text, const std::string &section, const std::string &key,
                     std::string &value) {
    std::string_view body = text;
    if (body.substr(0, 3) == "\xEF\xBB\xBF")
        body.remove_prefix(3); // UTF-8 byte-order mark
    bool inSection = false;
    for (std::string_view line : Lines(body)) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            inSection = EqualNoCase(name, section);
        } else if (inSection && KeyValue(line, k, v) && EqualNoCase(k, key)) {
            value = CleanValue(v);
            return true;
        }
    }
    return false;
}

std::string IniFile::ReadString(const std::string &section, const std::string &key,
                                const std::string &defaultValue) const {
    std::string text, value;
    if (!ReadAll(path_, text) || !Lookup(text, section, key, value))
        return defaultValue.substr(0, kMaxValue);
    return value;
}

void IniFile::WriteString(const std::string &section, const std::string &key,
                          const std::string &value) const {
    std::string text;
    ReadAll(path_, text);
    const std::string newLine = key + "=" + value;
    const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";

    std::vector<std::string_view> lines = Lines(text);
    std::vector<std::string> out;
    out.reserve(lines.size() + 2);
    bool inSection = false, done = false;
    std::ptrdiff_t lastInSection = -1; // last non-blank line of the wanted section
    for (std::string_view line : lines) {
        std::string_view name, k, v;
        if (SectionName(line, name)) {
            inSection = !done && EqualNoCase(name, section);
            if (inSection)
                lastInSection = static_cast<std::ptrdiff_t>(out.size());
        } else if (inSection && !done && KeyValue(line, k, v) && EqualNoCase(k, key)) {
            out.emplace_back(newLine);
            done = true;
            continue;
        } else if (inSection && !Trim(line).empty()) {
            lastInSection = static_cast<std::ptrdiff_t>(out.size());
        }
        out.emplace_back(line);
    }
    if (!done) {
        if (lastInSection >= 0) {
            out.insert(out.begin() + lastInSection + 1, newLine);
        } else {
            if (!out.empty() && !Trim(out.back()).empty())
                out.emplace_back("");
            out.emplace_back("[" + section + "]");
            out.emplace_back(newLine);
        }
    }

    std::string result;
    for (const std::string &line : out)
        result += line + eol;

    // Write beside the file and move it over, so a failed write leaves the old file whole;
    // where the folder refuses new files, write the file in place.
    // A settings file that is a link (kept with the user's other dotfiles) stays one.
    std::string target = path_;
    if (char *real = ::realpath(path_.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    const std::string tmp = target + ".tmp";
    MakeParentFolders(target);
    if (WriteWhole(tmp, result) && std::rename(tmp.c_str(), target.c_str()) == 0)
        return;
    std::remove(tmp.c_str());
    if (!WriteWhole(target, result))
        throw IniWriteError(path_);
}

std::string TrimBlanks(const std::string &text) {
    return std::string(Trim(text));
}

} // namespace tandrel
