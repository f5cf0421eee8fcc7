#include <gtest/gtest.h>

#include <clocale>
#include <cwctype>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

#include "TestUtil.h"
#include "audio/Probe.h"
#include "lang/Language.h"
#include "lang/MessageTexts.h"

using namespace tandrel;
namespace fs = std::filesystem;

namespace {

using KeyMap = std::map<std::string, std::vector<std::string>>; // section -> keys in file order

const std::string kDir = TANDREL_LANG_DIR;

// The shipped files with the CharSet each must declare.
const std::map<std::string, int> kCharSets = {
    {"English.ini", 0},   {"German.ini", 0},      {"French.ini", 0},       {"Polish.ini", 238},
    {"Russian.ini", 204}, {"ChineseGB.ini", 134}, {"ChineseBig5.ini", 136}};

std::vector<std::string> ShippedFiles() {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(kDir))
        if (e.is_regular_file() && e.path().extension() == ".ini")
            names.push_back(e.path().filename().string());
    return names;
}

std::string Trimmed(const std::string &s) {
    std::size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

KeyMap ReadKeys(const std::string &path) {
    KeyMap keys;
    std::string section, line;
    const std::string text = testutil::ReadFile(path);
    for (std::size_t at = 0; at < text.size();) {
        std::size_t nl = text.find('\n', at);
        line = Trimmed(text.substr(at, nl == std::string::npos ? std::string::npos : nl - at));
        at = nl == std::string::npos ? text.size() : nl + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']')
            keys[section = line.substr(1, line.size() - 2)];
        else if (line.find('=') != std::string::npos)
            keys[section].push_back(Trimmed(line.substr(0, line.find('='))));
    }
    return keys;
}

// The lower-cased character after the first single "&", or 0 when there is none.
char32_t Accelerator(const std::string &utf8) {
    for (std::size_t i = 0; i + 1 < utf8.size(); ++i) {
        if (utf8[i] != '&')
            continue;
        if (utf8[i + 1] == '&') {
            ++i;
            continue;
        }
        std::mbstate_t state{};
        wchar_t wc = 0;
        if (std::mbrtowc(&wc, utf8.data() + i + 1, utf8.size() - i - 1, &state) == 0)
            return 0;
        return static_cast<char32_t>(std::towlower(static_cast<wint_t>(wc)));
    }
    return 0;
}

class LanguageFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() { std::setlocale(LC_CTYPE, "C.UTF-8"); }
};

TEST_F(LanguageFiles, EveryFileHasExactlyTheKeysOfEnglish) {
    const KeyMap english = ReadKeys(kDir + "/English.ini");
    ASSERT_GT(english.size(), 10u);
    auto asSets = [](const KeyMap &m) {
        std::map<std::string, std::set<std::string>> sets;
        for (const auto &[section, keys] : m)
            sets[section] = std::set<std::string>(keys.begin(), keys.end());
        return sets;
    };
    for (const std::string &f : ShippedFiles()) {
        const KeyMap keys = ReadKeys(kDir + "/" + f);
        EXPECT_EQ(asSets(keys), asSets(english)) << f;
        for (const auto &[section, list] : keys)
            EXPECT_EQ(std::set<std::string>(list.begin(), list.end()).size(), list.size())
                << f << ": a key repeats in [" << section << "]";
    }
}

// All seven shipped under their own names, each read in its code page.
TEST_F(LanguageFiles, EveryValueDecodesCleanlyInItsCodePage) {
    const KeyMap english = ReadKeys(kDir + "/English.ini");
    std::set<std::string> names;
    EXPECT_EQ(ShippedFiles().size(), kCharSets.size());
    for (const std::string &f : ShippedFiles()) {
        SCOPED_TRACE(f);
        const std::string raw = testutil::ReadFile(kDir + "/" + f);
        EXPECT_NE(raw.rfind("\xEF\xBB\xBF", 0), 0u) << "stored as UTF-8, not in its code page";
        EXPECT_EQ(raw.find('\r'), std::string::npos);
        LanguageFile lang(kDir + "/" + f);
        auto cs = kCharSets.find(f);
        ASSERT_NE(cs, kCharSets.end());
        EXPECT_EQ(lang.Font().charSet, cs->second);
        EXPECT_GE(lang.Font().size, 8);
        for (const auto &[section, keys] : english)
            for (const std::string &key : keys) {
                const std::string v = lang.ReadString(section, key, "");
                EXPECT_FALSE(v.empty()) << section << "/" << key;
                EXPECT_EQ(v.find("\xEF\xBF\xBD"), std::string::npos) << section << "/" << key;
            }
        const std::string copyright = lang.ReadString("AboutForm", "Copyright", "");
        EXPECT_NE(copyright.find("[xxx]"), std::string::npos);
        EXPECT_NE(FillCopyrightYear(copyright, 2031).find("2003-2031"), std::string::npos);
        names.insert(lang.ReadString("LanguageProperty", "Name", ""));
    }
    EXPECT_EQ(names, (std::set<std::string>{"English", "Deutsch", "Français", "Polski", "Русский",
                                            "简体中文", "繁體中文"}));
}

TEST_F(LanguageFiles, AcceleratorsAreUniqueWithinEachWindow) {
    const std::vector<std::vector<std::pair<const char *, const char *>>> windows = {
        {{"ToolBar", "Add"},
         {"ToolBar", "Remove"},
         {"ToolBar", "Clear"},
         {"ToolBar", "Join"},
         {"ToolBar", "Language"},
         {"ToolBar", "About"},
         {"ToolBar", "Update"}},
        {{"OutputForm", "Back"}, {"OutputForm", "Next"}, {"Common", "Cancel"}},
        {{"OutputForm", "Back"}, {"OutputForm", "Join"}, {"Common", "Cancel"}}};
    LanguageFile english(kDir + "/English.ini");
    for (const std::string &f : ShippedFiles()) {
        LanguageFile lang(kDir + "/" + f);
        for (const auto &window : windows) {
            std::map<char32_t, std::string> used;
            for (auto [section, key] : window) {
                const std::string text = lang.ReadString(section, key, "");
                const char32_t acc = Accelerator(text);
                EXPECT_EQ(acc != 0, Accelerator(english.ReadString(section, key, "")) != 0)
                    << f << " " << section << "/" << key << ": " << text;
                if (acc == 0)
                    continue;
                auto [it, fresh] = used.emplace(acc, text);
                EXPECT_TRUE(fresh) << f << ": " << text << " and " << it->second;
            }
        }
    }
}

// The placeholders ("%1".."%9") a text uses.
std::set<std::string> Placeholders(const std::string &text) {
    std::set<std::string> found;
    for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 1))
        if (at + 1 < text.size() && text[at + 1] >= '1' && text[at + 1] <= '9')
            found.insert(text.substr(at, 2));
    return found;
}

// English.ini holds every message text exactly as the program has it built in, and every
// translation names the same things (a lost "%2" would drop the system's reason).
TEST_F(LanguageFiles, MessageTextsMatchTheBuiltInEnglishAndKeepTheirPlaceholders) {
    LanguageFile english(kDir + "/English.ini");
    for (int i = 0; i < int(Msg::Count); ++i) {
        const Msg id = Msg(i);
        EXPECT_EQ(english.ReadString(kMessagesSection, MsgKey(id), ""), MsgEnglish(id))
            << MsgKey(id);
        for (const std::string &f : ShippedFiles()) {
            const std::string text =
                LanguageFile(kDir + "/" + f).ReadString(kMessagesSection, MsgKey(id), "");
            EXPECT_EQ(Placeholders(text), Placeholders(MsgEnglish(id))) << f << " " << MsgKey(id);
        }
    }
    EXPECT_EQ(ReadKeys(kDir + "/English.ini").at(kMessagesSection).size(), std::size_t(Msg::Count));
}

// Every reason the Add button can give for refusing a file has its key in English.ini, with the
// text the program has built in (the other files have the same keys, above).
TEST_F(LanguageFiles, EveryRefusalHasItsBuiltInEnglishText) {
    LanguageFile english(kDir + "/English.ini");
    int count = 0;
    for (auto refusal = Refusal(1); *RefusalKey(refusal); refusal = Refusal(int(refusal) + 1)) {
        EXPECT_EQ(english.ReadString("OpenDialog", RefusalKey(refusal), ""),
                  RefusalEnglish(refusal))
            << RefusalKey(refusal);
        ++count;
    }
    EXPECT_GE(count, 10);
}

} // namespace
