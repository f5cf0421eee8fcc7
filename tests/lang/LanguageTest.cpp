#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestUtil.h"
#include "common/AppFolders.h"
#include "lang/Language.h"

using namespace tandrel;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

TEST(Language, FirstStartChoiceByLanguageIdentifier) {
    const std::pair<std::uint16_t, const char *> cases[] = {
        {0x0804, "ChineseGB.ini"},   {0x1004, "ChineseGB.ini"}, {0x0404, "ChineseBig5.ini"},
        {0x0C04, "ChineseBig5.ini"}, {0x1404, "English.ini"},   {0x0419, "Russian.ini"},
        {0x0807, "German.ini"},      {0x1407, "German.ini"},    {0x180C, "French.ini"},
        {0x0415, "Polish.ini"},      {0x0C0A, "English.ini"},   {0x0409, "English.ini"}};
    for (auto [id, file] : cases)
        EXPECT_EQ(LanguageFileForLangId(id), file) << std::hex << id;
}

// Locale names to identifiers and back: territories, codesets, modifiers, scripts.
TEST(Language, LocaleNamesAndLanguageIdentifiers) {
    const struct {
        const char *locale;
        std::uint16_t id;
        const char *back;
    } cases[] = {{"de_CH.UTF-8", 0x0807, "de_CH"},  {"de_DE", 0x0407, "de_DE"},
                 {"zh_TW.UTF-8", 0x0404, "zh_TW"},  {"zh_MO", 0x1404, "zh_MO"},
                 {"zh_CN.GB2312", 0x0804, "zh_CN"}, {"zh-Hant", 0x0404, "zh_TW"},
                 {"fr_CA", 0x0C0C, "fr_CA"},        {"ru_RU.KOI8-R", 0x0419, "ru_RU"},
                 {"pl_PL", 0x0415, "pl_PL"},        {"C", 0x0409, "en_US"},
                 {"sr_RS@latin", 0x0409, "en_US"}};
    for (const auto &c : cases) {
        EXPECT_EQ(LangIdFromLocaleName(c.locale), c.id) << c.locale;
        EXPECT_EQ(LocaleNameForLangId(c.id), c.back) << c.locale;
    }
    EXPECT_EQ(LocaleNameForLangId(0x7C07), "de"); // a sub-language the table does not know
    EXPECT_EQ(LocaleNameForLangId(0x0401), "");   // Arabic: not in the table
}

TEST(Language, ChoiceIsStoredOnceAndStoredValuesAreTrimmed) {
    TempDir dir;
    const std::string folder = dir.Path() + "/";
    LanguageChoice c = ChooseLanguage(folder + "Tandrel.ini", 0x0807);
    EXPECT_EQ(c.fileName, "German.ini");
    EXPECT_FALSE(c.writeFailed);
    EXPECT_EQ(ReadFile(folder + "Tandrel.ini"), "[General]\nLanguage=German.ini\n");
    EXPECT_EQ(ChooseLanguage(folder + "Tandrel.ini", 0x0419).fileName, "German.ini");

    WriteFile(folder + "Tandrel.ini", "[General]\nLanguage=\" French.ini \"\n");
    EXPECT_EQ(ChooseLanguage(folder + "Tandrel.ini", 0x0419).fileName, "French.ini");
    WriteFile(folder + "Tandrel.ini", "[General]\nLanguage=\n");
    EXPECT_EQ(ChooseLanguage(folder + "Tandrel.ini", 0x0419).fileName, "Russian.ini");
}

TEST(Language, SettingsFolderIsMadeOnTheFirstWriteAndAnUnwritableOneStillChoosesALanguage) {
    TempDir dir;
    const std::string xdg = dir.File("config/tandrel/Tandrel.ini");
    EXPECT_FALSE(ChooseLanguage(xdg, 0x0415).writeFailed);
    EXPECT_EQ(ReadFile(xdg), "[General]\nLanguage=Polish.ini\n");

    WriteFile(dir.File("plain"), "a file, not a folder");
    const std::string blocked = dir.File("plain/x/Tandrel.ini");
    LanguageChoice c = ChooseLanguage(blocked, 0x0415);
    EXPECT_EQ(c.fileName, "Polish.ini");
    EXPECT_TRUE(c.writeFailed);
    EXPECT_EQ(c.settingsPath, blocked);
}

TEST(Language, ProgramFoldersPortableOrInstalled) {
    TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.File("xdg").c_str(), 1);
    // A portable folder: everything beside the executable.
    mkdir(dir.File("portable").c_str(), 0755);
    mkdir(dir.File("portable/TDLanguage").c_str(), 0755);
    AppFolders f = FindAppFolders(dir.File("portable"));
    EXPECT_TRUE(f.portable);
    EXPECT_EQ(f.languages, dir.File("portable/TDLanguage/"));
    EXPECT_EQ(f.libraries, dir.File("portable/"));
    EXPECT_EQ(f.settingsFile, dir.File("portable/Tandrel.ini"));
    // An installed one, at any prefix: files relative to bin/, settings in the user's folder.
    f = FindAppFolders(dir.File("usr/bin/"));
    EXPECT_FALSE(f.portable);
    EXPECT_EQ(f.languages.rfind(dir.File("usr/bin/../"), 0), 0u);
    EXPECT_EQ(f.languages.substr(f.languages.size() - 20), "/tandrel/TDLanguage/");
    EXPECT_EQ(f.librariesInstalled.substr(f.librariesInstalled.size() - 9), "/tandrel/");
    EXPECT_EQ(f.settingsFile, dir.File("xdg/tandrel/Tandrel.ini"));
    // Without XDG_CONFIG_HOME and HOME: the user's home from the system, never a shared folder.
    unsetenv("XDG_CONFIG_HOME");
    const std::string home = getenv("HOME") ? getenv("HOME") : "";
    unsetenv("HOME");
    EXPECT_EQ(FindAppFolders(dir.File("usr/bin/")).settingsFile,
              std::string(getpwuid(getuid())->pw_dir) + "/.config/tandrel/Tandrel.ini");
    if (!home.empty())
        setenv("HOME", home.c_str(), 1);
}

// The shipped files' own code pages are LanguageFiles' test; here the fallbacks.
TEST(Language, TextsAreDecodedByTheFilesCharSetAndFontsFallBack) {
    TempDir dir;
    // "Zażółć" in windows-1250; a UTF-8 file with its mark; windows-1252 without a CharSet.
    WriteFile(dir.File("pl.ini"), "[LanguageProperty]\nCharSet=238\nName=Za\xBF\xF3\xB3\xE6\n"
                                  "FontName=Arial\nFontSize=abc\n");
    WriteFile(dir.File("u8.ini"), "\xEF\xBB\xBF[LanguageProperty]\nName=Fran\xC3\xA7"
                                  "ais\nCharSet=0\n");
    WriteFile(dir.File("fr.ini"), "[LanguageProperty]\nName=Fran\xE7"
                                  "ais\nFontSize=12\nCharSet=\n");
    const LanguageFile pl(dir.File("pl.ini")), fr(dir.File("fr.ini"));
    EXPECT_EQ(pl.ReadString("LanguageProperty", "Name", ""), "Zażółć");
    EXPECT_EQ(LanguageFile(dir.File("u8.ini")).ReadString("languageproperty", "name", ""),
              "Français");
    EXPECT_EQ(fr.ReadString("LanguageProperty", "Name", ""), "Français");
    EXPECT_EQ(pl.Font().name, "Arial");
    EXPECT_EQ(pl.Font().size, 8);
    EXPECT_EQ(pl.Font().charSet, 238);
    EXPECT_EQ(fr.Font().name, "Tahoma");
    EXPECT_EQ(fr.Font().size, 12);
    EXPECT_EQ(fr.Font().charSet, 1);
    EXPECT_EQ(ToIntDef("-3", 1), -3);
}

// Vietnamese and Hebrew code pages hold a letter back for a mark that may follow it: the end
// of a text and an undecodable byte after it still give it out.
TEST(Language, CodePagesThatCombineLettersKeepTheLastLetter) {
    TempDir dir;
    // "café" in windows-1258 and "שלום" in windows-1255, alone and before a byte left undefined.
    WriteFile(dir.File("vi.ini"), "[LanguageProperty]\nCharSet=163\nName=caf\xE9\n"
                                  "Broken=caf\xE9\x81!\n");
    WriteFile(dir.File("he.ini"), "[LanguageProperty]\nCharSet=177\nName=\xF9\xEC\xE5\xED\n"
                                  "Broken=\xF9\xEC\xE5\xED\xFF!\n");
    const LanguageFile vi(dir.File("vi.ini")), he(dir.File("he.ini"));
    EXPECT_EQ(vi.ReadString("LanguageProperty", "Name", ""), "café");
    EXPECT_EQ(vi.ReadString("LanguageProperty", "Broken", ""), "café\xEF\xBF\xBD!");
    EXPECT_EQ(he.ReadString("LanguageProperty", "Name", ""), "שלום");
    EXPECT_EQ(he.ReadString("LanguageProperty", "Broken", ""), "שלום\xEF\xBF\xBD!");
}

TEST(Language, LanguageFilesKnowTheirLanguage) {
    TempDir dir;
    auto lang = [&](const std::string &name, const std::string &body) {
        WriteFile(dir.File(name), "[LanguageProperty]\nName=x\n" + body);
        return LanguageFileLocale(LanguageFile(dir.File(name)));
    };
    // As the shipped files are: the CharSet, else the built-in file's name.
    EXPECT_EQ(lang("German.ini", "CharSet=0\n"), "de_DE");
    EXPECT_EQ(lang("Polish.ini", "CharSet=238\n"), "pl_PL");
    EXPECT_EQ(lang("Russian.ini", "CharSet=204\n"), "ru_RU");
    EXPECT_EQ(lang("ChineseGB.ini", "CharSet=134\n"), "zh_CN");
    // Names without regard to case; a renamed file by its CharSet; an unknown one is English.
    EXPECT_EQ(lang("GERMAN.INI", "CharSet=0\n"), "de_DE");
    EXPECT_EQ(lang("french.ini", ""), "fr_FR");
    EXPECT_EQ(lang("Mine.ini", "CharSet=136\n"), "zh_TW");
    EXPECT_EQ(lang("English2.ini", "CharSet=204\n"), "ru_RU");
    EXPECT_EQ(lang("Espanol.ini", "CharSet=0\n"), "en_US");
    // An identifier of the file's own wins.
    EXPECT_EQ(lang("Other.ini", "CharSet=0\nLangID=0x040C\n"), "fr_FR");
    EXPECT_EQ(lang("Other.ini", "CharSet=0\nLangID=$0407\n"), "de_DE");
    EXPECT_EQ(lang("Other.ini", "CharSet=204\nLangID=1045\n"), "pl_PL");
    EXPECT_EQ(lang("German.ini", "CharSet=0\nLangID=junk\n"), "de_DE");
}
