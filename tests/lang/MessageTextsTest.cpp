#include <gtest/gtest.h>

#include "TestUtil.h"
#include "lang/MessageTexts.h"

using namespace tandrel;

namespace {

class MessageTexts : public ::testing::Test {
protected:
    void TearDown() override { SetMessageLanguage(""); }
};

TEST_F(MessageTexts, PlaceholdersAreFilledOnceEach) {
    EXPECT_EQ(FillPlaceholders("Could not write '%1': %2", {"/a/%2.wav", "No space"}),
              "Could not write '/a/%2.wav': No space");
    EXPECT_EQ(FillPlaceholders("%2 before %1, 100%", {"x", "y"}), "y before x, 100%");
    EXPECT_EQ(FillPlaceholders("%1 and %3", {"x"}), "x and %3");
    EXPECT_EQ(FillPlaceholders("%", {"x"}), "%");
}

TEST_F(MessageTexts, TheLanguageFileGivesTheTextAndEnglishFillsItsGaps) {
    testutil::TempDir dir;
    EXPECT_EQ(MsgText(Msg::CouldNotRead, {"/m/a.wav", "reason"}),
              "Could not read '/m/a.wav': reason");
    // A Russian file in its code page, that lacks all but one text.
    testutil::WriteFile(
        dir.File("Russian.ini"),
        "[LanguageProperty]\nCharSet=204\n[Errors]\nCaption=\xCE\xF8\xE8\xE1\xEA\xE0\n"
        "CouldNotRead=\xD7\xF2\xE5\xED\xE8\xE5 %1: %2\n");
    SetMessageLanguage(dir.File("Russian.ini"));
    EXPECT_EQ(MsgText(Msg::ErrorCaption), "Ошибка");
    EXPECT_EQ(MsgText(Msg::CouldNotRead, {"/m/a.wav", "x"}), "Чтение /m/a.wav: x");
    EXPECT_EQ(MsgLines(Msg::CannotCreateOutput, "/m/out.wav", "why"),
              "Cannot creat the output file.\n/m/out.wav\nwhy");
    SetMessageLanguage(dir.File("missing.ini")); // a file that is gone: English
    EXPECT_EQ(MsgText(Msg::ErrorCaption), "Error");
}

} // namespace
