#include <gtest/gtest.h>

#include "common/Encodestring.h"

namespace {
// The inverse rule: a character at position q of table A is kept as table B's 94 - q.
std::string Scramble(const std::string &plain) {
    std::string out;
    for (char c : plain)
        out += ScrambleTableB[94 - std::string(ScrambleTableA).find(c)];
    return out;
}
} // namespace

TEST(Encodestring, UnscramblesTheHomePageAndEveryPrintableCharacter) {
    EXPECT_EQ(UnscrambleString(""), "");
    EXPECT_EQ(UnscrambleString(kScrambledHomePage), "https://tandrel.example.org/");
    std::string all;
    for (char c = ' '; c <= '~'; ++c)
        all += c;
    EXPECT_EQ(UnscrambleString(Scramble(all)), all);
    // Characters outside the tables count as the first character of table B.
    const char last = ScrambleTableA[94];
    EXPECT_EQ(UnscrambleString(std::string("\x01\x7f\x80\xff", 4)), std::string(4, last));
    EXPECT_EQ(UnscrambleString(std::string(1, ScrambleTableB[0])), std::string(1, last));
    EXPECT_EQ(UnscrambleString(std::string(7, '\n')).size(), 7u);
}
