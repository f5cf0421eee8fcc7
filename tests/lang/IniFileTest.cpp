#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestUtil.h"
#include "lang/IniFile.h"

using tandrel::IniFile;
using tandrel::IniWriteError;
using testutil::ReadFile;
using testutil::TempDir;
using testutil::WriteFile;

TEST(IniFile, ReadsWithoutRegardToCaseCleansAndCutsValues) {
    TempDir dir;
    WriteFile(dir.File("a.ini"),
              "; comment\r\n[ToolBar]\r\n  add =  &Add  \r\nQuoted=\"  x y \"\r\n"
              "Single='z'\r\nHalf=\"open\r\nEmpty=\r\nLong=" +
                  std::string(3000, 'x') + "\r\n[other]\r\nadd=no\r\n");
    IniFile ini(dir.File("a.ini"));
    EXPECT_EQ(ini.ReadString("toolbar", "ADD", "d"), "&Add");
    EXPECT_EQ(ini.ReadString("ToolBar", "Quoted", "d"), "  x y ");
    EXPECT_EQ(ini.ReadString("ToolBar", "Single", "d"), "z");
    EXPECT_EQ(ini.ReadString("ToolBar", "Half", "d"), "\"open");
    EXPECT_EQ(ini.ReadString("ToolBar", "Empty", "d"), "");
    EXPECT_EQ(ini.ReadString("ToolBar", "Long", "d"), std::string(2047, 'x'));
    EXPECT_EQ(ini.ReadString("ToolBar", "Missing", "d"), "d");
    EXPECT_EQ(ini.ReadString("NoSection", "add", "d"), "d");
    EXPECT_EQ(IniFile(dir.File("missing.ini")).ReadString("ToolBar", "add", "dflt"), "dflt");
}

TEST(IniFile, WriteKeepsEverythingElse) {
    TempDir dir;
    const std::string path = dir.File("Tandrel.ini");
    WriteFile(path, "; settings\n[General]\nAd=0\nlanguage=Old.ini\n\n[Other]\nKeep=1\n");
    IniFile ini(path);
    ini.WriteString("General", "Language", "German.ini");
    EXPECT_EQ(ReadFile(path),
              "; settings\n[General]\nAd=0\nLanguage=German.ini\n\n[Other]\nKeep=1\n");
    ini.WriteString("Other", "New", "v");
    ini.WriteString("Third", "K", "w");
    EXPECT_EQ(ini.ReadString("other", "new", ""), "v");
    EXPECT_EQ(ini.ReadString("Other", "Keep", ""), "1");
    EXPECT_EQ(ini.ReadString("third", "k", ""), "w");
    EXPECT_EQ(ini.ReadString("General", "Ad", ""), "0");
}

TEST(IniFile, WriteCreatesFileAndReportsFailure) {
    TempDir dir;
    IniFile fresh(dir.File("new.ini"));
    fresh.WriteString("General", "Language", "English.ini");
    EXPECT_EQ(ReadFile(dir.File("new.ini")), "[General]\nLanguage=English.ini\n");

    // A missing folder is made; a file standing where a folder should be cannot be written.
    IniFile(dir.File("made/here/Tandrel.ini")).WriteString("General", "Language", "x");
    EXPECT_EQ(ReadFile(dir.File("made/here/Tandrel.ini")), "[General]\nLanguage=x\n");
    struct stat st {};
    ASSERT_EQ(stat(dir.File("made").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u); // the user's settings are the user's own
    // A settings file kept as a link (with the user's other dotfiles) stays a link.
    ASSERT_EQ(symlink(dir.File("made/here/Tandrel.ini").c_str(), dir.File("linked.ini").c_str()),
              0);
    IniFile(dir.File("linked.ini")).WriteString("General", "Language", "y");
    ASSERT_EQ(lstat(dir.File("linked.ini").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ReadFile(dir.File("made/here/Tandrel.ini")), "[General]\nLanguage=y\n");
    WriteFile(dir.File("plain"), "a file");
    const std::string bad = dir.File("plain/folder/Tandrel.ini");
    try {
        IniFile(bad).WriteString("General", "Language", "x");
        FAIL() << "no error";
    } catch (const IniWriteError &e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + bad);
    }
}
