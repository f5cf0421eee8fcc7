#pragma once

#include <cstdint>
#include <string>

#include "lang/IniFile.h"

namespace tandrel {

// Font settings of a language file, as the windows apply them.
struct LanguageFont {
    std::string name = "Tahoma";
    int size = 8;
    int charSet = 1;
};

// Decodes 8-bit text of a Windows character set (0 and 1: windows-1252, 204: windows-1251,
// 238: windows-1250, 134: GBK, 136: Big5, ...) to UTF-8. Undecodable bytes become U+FFFD.
std::string DecodeCharSet(const std::string &bytes, int charSet);
// The iconv name used for a character set code.
const char *CharSetEncoding(int charSet);

// A decimal integer, or fallback when the text is not one.
int ToIntDef(const std::string &text, int fallback);

// The reader of one language file. Every read goes to the file on disk; texts come back as
// UTF-8, decoded by the file's own "CharSet" (a file starting with a UTF-8 byte-order mark is
// UTF-8 already).
class LanguageFile {
public:
    explicit LanguageFile(std::string path) : ini_(std::move(path)) {}
    const std::string &Path() const { return ini_.Path(); }

    std::string ReadString(const std::string &section, const std::string &key,
                           const std::string &defaultValue) const;
    LanguageFont Font() const;

private:
    IniFile ini_;
};

// Windows language identifier for a locale name such as "de_CH", "zh_TW.UTF-8", "fr".
std::uint16_t LangIdFromLocaleName(const std::string &localeName);
// The built-in language file chosen at the first start for a language identifier.
std::string LanguageFileForLangId(std::uint16_t langId);
// The locale name of a language identifier, the reverse of LangIdFromLocaleName: 0x0407 -> "de_DE",
// 0x0804 -> "zh_CN", 0x0404 -> "zh_TW". Empty for a language the table does not know.
std::string LocaleNameForLangId(std::uint16_t langId);
// The language a language file is written in: [LanguageProperty] LangID when the file carries
// one ("0x0407", "$0407" or "1031"), else its CharSet when only one built-in language uses it
// (134, 136, 204, 238; also 128 Japanese, 129 Korean), else the name of the built-in file it
// bears (without regard to case: "german.ini" -> 0x0407), else English (0x0409).
std::uint16_t LanguageFileLangId(const LanguageFile &file);
// LocaleNameForLangId(LanguageFileLangId(file)).
std::string LanguageFileLocale(const LanguageFile &file);

struct LanguageChoice {
    std::string fileName;     // name of the language file, without folder
    bool writeFailed = false; // the first-start choice could not be stored
    std::string settingsPath;
};

// Reads [General] Language from the settings file; when it is empty, chooses from
// langId and stores the choice. A failed store is reported in the result, the choice stands.
LanguageChoice ChooseLanguage(const std::string &settingsFile, std::uint16_t langId);

// The copyright line with its first "[xxx]" replaced by the year.
std::string FillCopyrightYear(const std::string &line, int year);

inline constexpr const char *kSettingsFileName = "Tandrel.ini";
inline constexpr const char *kLanguageFolder = "TDLanguage/";

} // namespace tandrel
