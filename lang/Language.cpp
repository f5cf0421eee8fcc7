#include "lang/Language.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <iconv.h>
#include <map>
#include <sstream>

namespace tandrel {

const char *CharSetEncoding(int charSet) {
    switch (charSet & 0xFF) {
    case 77:
        return "MACINTOSH";
    case 128:
        return "CP932";
    case 129:
        return "CP949";
    case 130:
        return "JOHAB";
    case 134:
        return "GBK";
    case 136:
        return "BIG5";
    case 161:
        return "CP1253";
    case 162:
        return "CP1254";
    case 163:
        return "CP1258";
    case 177:
        return "CP1255";
    case 178:
        return "CP1256";
    case 186:
        return "CP1257";
    case 204:
        return "CP1251";
    case 222:
        return "CP874";
    case 238:
        return "CP1250";
    case 255:
        return "CP437";
    default:
        return "CP1252";
    }
}

std::string DecodeCharSet(const std::string &bytes, int charSet) {
    bool ascii = true;
    for (unsigned char c : bytes)
        ascii = ascii && c < 0x80;
    if (ascii)
        return bytes;
    iconv_t cd = iconv_open("UTF-8", CharSetEncoding(charSet));
    if (cd == reinterpret_cast<iconv_t>(-1))
        return bytes;
    std::string out(bytes.size() * 4 + 16, '\0');
    char *in = const_cast<char *>(bytes.data());
    size_t inLeft = bytes.size();
    char *dst = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            break; // cannot happen: four bytes out per byte in is enough
        // An invalid or incomplete sequence: show a replacement character and go on, after
        // what the converter still holds.
        iconv(cd, nullptr, nullptr, &dst, &outLeft);
        static const char kReplacement[] = "\xEF\xBF\xBD";
        if (outLeft < 3)
            break;
        for (char c : std::string_view(kReplacement, 3))
            *dst++ = c;
        outLeft -= 3;
        ++in;
        --inLeft;
    }
    // windows-1255 and -1258 hold a letter back for a combining mark that may follow it.
    iconv(cd, nullptr, nullptr, &dst, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

int ToIntDef(const std::string &text, int fallback) {
    // Surrounding blanks are already gone: the INI reader trims values.
    int value = 0;
    const char *b = text.data(), *e = text.data() + text.size();
    if (b != e && *b == '+')
        ++b;
    auto [p, ec] = std::from_chars(b, e, value);
    return (ec == std::errc() && p == e && b != e) ? value : fallback;
}

std::string LanguageFile::ReadString(const std::string &section, const std::string &key,
                                     const std::string &defaultValue) const {
    std::ifstream f(ini_.Path(), std::ios::binary);
    if (!f)
        return defaultValue;
    std::ostringstream ss;
    ss << f.rdbuf();
    std::string text = ss.str();
    bool utf8 = text.rfind("\xEF\xBB\xBF", 0) == 0;
    std::string value;
    if (!IniFile::Lookup(text, section, key, value))
        return defaultValue;
    if (utf8)
        return value;
    std::string cs;
    int charSet = IniFile::Lookup(text, "LanguageProperty", "CharSet", cs) ? ToIntDef(cs, 1) : 1;
    return DecodeCharSet(value, charSet);
}

LanguageFont LanguageFile::Font() const {
    LanguageFont font;
    font.name = ReadString("LanguageProperty", "FontName", "Tahoma");
    font.size = ToIntDef(ReadString("LanguageProperty", "FontSize", "8"), 8);
    font.charSet = ToIntDef(ReadString("LanguageProperty", "CharSet", "1"), 1) & 0xFF;
    return font;
}

namespace {

// Windows language identifiers: primary language and sub-languages by territory.
struct Lang {
    std::uint16_t primary;
    std::map<std::string, std::uint16_t> sub; // territory -> sub-language
};

const std::map<std::string, Lang> &LanguageTable() {
    static const std::map<std::string, Lang> table = {
        {"zh", {0x04, {{"TW", 1}, {"CN", 2}, {"HK", 3}, {"SG", 4}, {"MO", 5}}}},
        {"ru", {0x19, {{"RU", 1}, {"MD", 2}}}},
        {"de", {0x07, {{"DE", 1}, {"CH", 2}, {"AT", 3}, {"LU", 4}, {"LI", 5}}}},
        {"fr", {0x0C, {{"FR", 1}, {"BE", 2}, {"CA", 3}, {"CH", 4}, {"LU", 5}, {"MC", 6}}}},
        {"pl", {0x15, {{"PL", 1}}}},
        {"en",
         {0x09, {{"US", 1}, {"GB", 2}, {"AU", 3}, {"CA", 4}, {"NZ", 5}, {"IE", 6}, {"ZA", 7}}}},
        {"es", {0x0A, {{"ES", 3}, {"MX", 2}}}},
        {"it", {0x10, {{"IT", 1}, {"CH", 2}}}},
        {"ja", {0x11, {{"JP", 1}}}},
        {"ko", {0x12, {{"KR", 1}}}},
        {"nl", {0x13, {{"NL", 1}, {"BE", 2}}}},
        {"pt", {0x16, {{"BR", 1}, {"PT", 2}}}},
        {"uk", {0x22, {{"UA", 1}}}},
        {"cs", {0x05, {{"CZ", 1}}}},
    };
    return table;
}

} // namespace

std::uint16_t LangIdFromLocaleName(const std::string &localeName) {
    // "ll_TT.codeset@modifier" or "ll-Script-TT"
    std::string name = localeName.substr(0, localeName.find_first_of(".@"));
    for (char &c : name)
        if (c == '-')
            c = '_';
    std::string lang = name.substr(0, name.find('_'));
    for (char &c : lang)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string territory;
    std::string script;
    std::size_t pos = name.find('_');
    while (pos != std::string::npos) {
        std::size_t next = name.find('_', pos + 1);
        std::string part = name.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
        if (part.size() == 4)
            script = part;
        else if (!part.empty())
            territory = part;
        pos = next;
    }
    for (char &c : territory)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    const auto &table = LanguageTable();
    auto it = table.find(lang);
    if (it == table.end())
        return 0x0409; // a language the table does not know: treated as English
    std::uint16_t sub = 1;
    auto s = it->second.sub.find(territory);
    if (s != it->second.sub.end())
        sub = s->second;
    else if (lang == "zh")
        sub = (script == "Hant") ? 1 : 2; // no territory: Traditional -> Taiwan, else PRC
    return static_cast<std::uint16_t>((sub << 10) | it->second.primary);
}

std::string LanguageFileForLangId(std::uint16_t id) {
    switch (id) {
    case 0x0804:
    case 0x1004:
        return "ChineseGB.ini";
    case 0x0404:
    case 0x0C04:
        return "ChineseBig5.ini";
    case 0x0419:
        return "Russian.ini";
    case 0x0407:
    case 0x0807:
    case 0x0C07:
    case 0x1007:
    case 0x1407:
        return "German.ini";
    case 0x040C:
    case 0x080C:
    case 0x0C0C:
    case 0x100C:
    case 0x140C:
    case 0x180C:
        return "French.ini";
    case 0x0415:
        return "Polish.ini";
    default:
        return "English.ini";
    }
}

std::string LocaleNameForLangId(std::uint16_t id) {
    const unsigned primary = id & 0x3FFu, sub = id >> 10;
    for (const auto &[lang, entry] : LanguageTable()) {
        if (entry.primary != primary)
            continue;
        for (const auto &[territory, s] : entry.sub)
            if (s == sub)
                return lang + "_" + territory;
        return lang;
    }
    return std::string();
}

namespace {

std::string Lower(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::uint16_t LanguageFileLangId(const LanguageFile &file) {
    // An identifier of the file's own: "0x0407", "$0407" or decimal "1031".
    std::string id = file.ReadString("LanguageProperty", "LangID", "");
    int value = 0;
    if (id.rfind("0x", 0) == 0 || id.rfind("0X", 0) == 0 || id.rfind("$", 0) == 0) {
        const std::string hex = id.substr(id[0] == '$' ? 1 : 2);
        auto [p, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
        if (ec != std::errc() || p != hex.data() + hex.size() || hex.empty())
            value = 0;
    } else {
        value = ToIntDef(id, 0);
    }
    if (value > 0 && value <= 0xFFFF &&
        !LocaleNameForLangId(static_cast<std::uint16_t>(value)).empty())
        return static_cast<std::uint16_t>(value);

    // A character set that only one of the built-in languages is written in.
    switch (file.Font().charSet) {
    case 134:
        return 0x0804;
    case 136:
        return 0x0404;
    case 204:
        return 0x0419;
    case 238:
        return 0x0415;
    case 128:
        return 0x0411;
    case 129:
        return 0x0412;
    default:
        break;
    }

    // Western files: the name of the built-in file, without regard to case.
    const std::string &path = file.Path();
    const std::string name = Lower(path.substr(path.find_last_of('/') + 1));
    for (std::uint16_t builtIn : {0x0407, 0x040C, 0x0415, 0x0419, 0x0804, 0x0404, 0x0409})
        if (Lower(LanguageFileForLangId(builtIn)) == name)
            return builtIn;
    return 0x0409;
}

std::string LanguageFileLocale(const LanguageFile &file) {
    return LocaleNameForLangId(LanguageFileLangId(file));
}

std::string FillCopyrightYear(const std::string &line, int year) {
    std::string out = line;
    std::size_t at = out.find("[xxx]");
    if (at != std::string::npos)
        out.replace(at, 5, std::to_string(year));
    return out;
}

LanguageChoice ChooseLanguage(const std::string &settingsFile, std::uint16_t langId) {
    LanguageChoice choice;
    IniFile settings(settingsFile);
    choice.settingsPath = settings.Path();
    choice.fileName = TrimBlanks(settings.ReadString("General", "Language", ""));
    if (choice.fileName.empty()) {
        choice.fileName = LanguageFileForLangId(langId);
        try {
            settings.WriteString("General", "Language", choice.fileName);
        } catch (const IniWriteError &) {
            choice.writeFailed = true;
        }
    }
    return choice;
}

} // namespace tandrel
