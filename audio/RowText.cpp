#include "audio/Probe.h"

#include <algorithm>
#include <cctype>
#include <locale>
#include <numeric>
#include <vector>

namespace tandrel {
namespace {

std::string TwoFigures(std::uint64_t v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

// Bytes that are not UTF-8 keep their own place, as lone surrogate-range values.
std::wstring Widen(const std::string &s) {
    std::wstring out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        char32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        bool ok = len > 0 && i + len <= s.size();
        for (int k = 1; ok && k < len; ++k) {
            auto n = static_cast<unsigned char>(s[i + k]);
            ok = (n & 0xC0) == 0x80;
            cp = (cp << 6) | (n & 0x3F);
        }
        if (ok) {
            out += static_cast<wchar_t>(cp);
            i += len;
        } else {
            out += static_cast<wchar_t>(0xDC00 + c);
            ++i;
        }
    }
    return out;
}

std::locale UserLocale() {
    try {
        return std::locale("");
    } catch (...) {
        return std::locale::classic();
    }
}

} // namespace

std::string FileNameOf(const std::string &path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string &path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool ExtensionIs(const std::string &path, const char *extension) {
    std::string e = ExtensionOf(path);
    for (char &c : e)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return e == extension;
}

std::string ExtensionOf(const std::string &path) {
    std::string name = FileNameOf(path);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string SizeText(std::uint64_t kb) {
    if (kb == 0)
        kb = 1;
    if (kb < 1024)
        return std::to_string(kb) + " KB";
    // Remainders of 1000 KB and more would give "10" after the point; they show 9.
    std::uint64_t tenth = std::min<std::uint64_t>((kb % 1024) / 100, 9);
    return std::to_string(kb / 1024) + "." + std::to_string(tenth) + " MB";
}

std::string TimeText(std::uint32_t seconds) {
    std::uint32_t h = seconds / 3600, m = seconds % 3600 / 60, s = seconds % 60;
    return (h > 0 ? std::to_string(h) + ":" : std::string()) + TwoFigures(m) + ":" + TwoFigures(s);
}

std::string StatusTimeText(std::int64_t totalSeconds) {
    auto t = static_cast<std::uint64_t>(std::max<std::int64_t>(totalSeconds, 0));
    return TwoFigures(t / 3600) + ":" + TwoFigures(t % 3600 / 60) + ":" + TwoFigures(t % 60);
}

RowTexts BuildRow(const std::string &path, const Track &file, const std::string &bitsWord,
                  const std::string &monoWord, const std::string &stereoWord) {
    RowTexts row;
    row.caption = FileNameOf(path);
    row.subItems = {std::to_string(file.sampleRate) + " Hz",
                    file.channels == 1 ? monoWord : stereoWord,
                    std::to_string(file.bits) + " " + bitsWord,
                    SizeText(file.sizeKB),
                    TimeText(file.seconds),
                    FolderOf(path),
                    std::to_string(file.sampleRate),
                    std::to_string(file.channels),
                    std::to_string(file.bits),
                    std::to_string(file.seconds)};
    return row;
}

namespace {

// A name cut into runs of digits and runs of everything else. Other runs compare by their
// collation keys; runs of digits by their value (leading zeros left out, any length).
struct SortKey {
    std::vector<std::wstring> runs;
    bool digitsFirst = false; // runs alternate, starting with digits when this is set
};

bool IsDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

SortKey MakeSortKey(const std::wstring &wide, const std::collate<wchar_t> &collate) {
    SortKey key;
    key.digitsFirst = !wide.empty() && IsDigit(wide[0]);
    for (std::size_t at = 0; at < wide.size();) {
        const bool digits = IsDigit(wide[at]);
        std::size_t end = at;
        while (end < wide.size() && IsDigit(wide[end]) == digits)
            ++end;
        if (digits) {
            std::size_t first = wide.find_first_not_of(L'0', at);
            key.runs.push_back(wide.substr(std::min(first, end), end - std::min(first, end)));
        } else {
            try {
                key.runs.push_back(collate.transform(wide.data() + at, wide.data() + end));
            } catch (...) {
                key.runs.push_back(wide.substr(at, end - at));
            }
        }
        at = end;
    }
    return key;
}

bool Less(const SortKey &a, const SortKey &b) {
    if (a.digitsFirst != b.digitsFirst && !a.runs.empty() && !b.runs.empty())
        return a.digitsFirst;
    for (std::size_t i = 0; i < a.runs.size() && i < b.runs.size(); ++i) {
        const std::wstring &x = a.runs[i], &y = b.runs[i];
        const bool digits = (i % 2 == 0) == a.digitsFirst;
        if (digits && x.size() != y.size())
            return x.size() < y.size();
        if (x != y)
            return x < y;
    }
    return a.runs.size() < b.runs.size();
}

} // namespace

void SortNamesForAdding(std::vector<std::string> &names) {
    const std::locale loc = UserLocale();
    const auto &ctype = std::use_facet<std::ctype<wchar_t>>(loc);
    const auto &collate = std::use_facet<std::collate<wchar_t>>(loc);
    std::vector<SortKey> keys;
    keys.reserve(names.size());
    for (const std::string &name : names) {
        std::wstring wide = Widen(name);
        ctype.tolower(wide.data(), wide.data() + wide.size());
        keys.push_back(MakeSortKey(wide, collate));
    }
    std::vector<std::size_t> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return Less(keys[a], keys[b]); });
    std::vector<std::string> sorted;
    sorted.reserve(names.size());
    for (std::size_t i : order)
        sorted.push_back(std::move(names[i]));
    names = std::move(sorted);
}

} // namespace tandrel
