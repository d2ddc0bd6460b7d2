// The language modules read from their resource scripts: the texts of each language header put
// into the shared layout, as the resource compiler does.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace salvora {
namespace {

const char *const languages[] = {"en", "de", "fr", "es", "it"};

std::string readText(const std::string &relative) {
    std::ifstream in(std::string(SALVORA_SOURCE_DIR) + "/resources/" + relative);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The T_ texts of one language header.
std::map<std::string, std::string> textsOf(const std::string &language) {
    std::map<std::string, std::string> texts;
    std::istringstream lines(readText("lang/" + language + ".rc"));
    static const std::regex define(R"re(^#define (T_\w+) "(.*)"\s*$)re");
    std::smatch found;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_match(line, found, define))
            texts[found[1]] = found[2];
    return texts;
}

// A control's or item's text: a T_ name of the language, or a literal.
std::string resolved(const std::string &word, const std::map<std::string, std::string> &texts) {
    if (word.front() == '"')
        return word.substr(1, word.size() - 2);
    auto it = texts.find(word);
    return it == texts.end() ? std::string() : it->second;
}

std::string firstText(const std::string &line) {
    static const std::regex text(R"re((T_\w+|"[^"]*"))re");
    std::smatch found;
    return std::regex_search(line, found, text) ? found[1].str() : std::string();
}

struct Layout {
    std::vector<std::string> mainDialog;
    std::vector<std::string> topLevel;
    // Each popup's items, by the popup's own text.
    std::vector<std::pair<std::string, std::vector<std::string>>> popups;
};

Layout readLayout() {
    Layout layout;
    std::istringstream lines(readText("layout.rc"));
    enum class Block { None, MainDialog, Menu } block = Block::None;
    int depth = 0;
    std::vector<std::size_t> open; // indexes into popups of the popups being read
    for (std::string line; std::getline(lines, line);) {
        std::string trimmed = line.substr(std::min(line.find_first_not_of(' '), line.size()));
        if (trimmed.rfind("IDD_MAIN DIALOGEX", 0) == 0)
            block = Block::MainDialog;
        else if (trimmed.rfind("IDM_MAIN MENU", 0) == 0)
            block = Block::Menu;
        if (block == Block::None)
            continue;
        if (trimmed.rfind("BEGIN", 0) == 0) {
            ++depth;
            continue;
        }
        if (trimmed.rfind("END", 0) == 0) {
            if (block == Block::Menu && !open.empty() && depth > 1)
                open.pop_back();
            if (--depth == 0)
                block = Block::None;
            continue;
        }
        if (depth == 0 || trimmed.rfind("CAPTION", 0) == 0)
            continue;
        std::string text = firstText(trimmed);
        if (text.empty())
            continue;
        if (block == Block::MainDialog) {
            layout.mainDialog.push_back(text);
            continue;
        }
        if (trimmed.rfind("MENUITEM SEPARATOR", 0) == 0)
            continue;
        if (depth == 1)
            layout.topLevel.push_back(text);
        else
            layout.popups[open.back()].second.push_back(text);
        if (trimmed.rfind("POPUP", 0) == 0) {
            layout.popups.push_back({text, {}});
            open.push_back(layout.popups.size() - 1);
        }
    }
    return layout;
}

// The key after a single '&', ASCII letters in lower case; empty when there is none.
std::string mnemonicOf(const std::string &text) {
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != '&')
            continue;
        if (text[i + 1] == '&') {
            ++i;
            continue;
        }
        unsigned char first = static_cast<unsigned char>(text[i + 1]);
        std::size_t length = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
        std::string key = text.substr(i + 1, length);
        if (length == 1 && key[0] >= 'A' && key[0] <= 'Z')
            key[0] = static_cast<char>(key[0] - 'A' + 'a');
        return key;
    }
    return {};
}

// The texts of `words` that share a mnemonic with an earlier one.
std::vector<std::string> collisions(const std::vector<std::string> &words,
                                    const std::map<std::string, std::string> &texts) {
    std::map<std::string, std::string> taken;
    std::set<std::string> seen;
    std::vector<std::string> clashes;
    for (const std::string &word : words) {
        std::string text = resolved(word, texts);
        std::string key = mnemonicOf(text);
        // One text may stand twice (a label shared by the dialog and a menu) without clashing.
        if (key.empty() || !seen.insert(text).second)
            continue;
        auto [it, fresh] = taken.emplace(key, text);
        if (!fresh)
            clashes.push_back("'" + key + "': " + it->second + " / " + text);
    }
    return clashes;
}

TEST(LanguageModules, TheLayoutIsReadWhole) {
    Layout layout = readLayout();
    EXPECT_EQ(layout.topLevel,
              (std::vector<std::string>{"T_MENU_FILE", "T_MENU_OPTIONS", "T_MENU_HELP"}));
    EXPECT_GE(layout.mainDialog.size(), 8u);
    ASSERT_EQ(layout.popups.size(), 4u);
    EXPECT_EQ(layout.popups[2].first, "T_LANGUAGE");
    EXPECT_EQ(layout.popups[2].second.size(), 5u);
    EXPECT_EQ(layout.popups[3].first, "T_MENU_HELP");
    EXPECT_EQ(layout.popups[1].second.back(), "T_LANGUAGE");
    EXPECT_EQ(mnemonicOf("E&xit\tAlt-F4"), "x");
    EXPECT_EQ(mnemonicOf("Save && &Quit"), "q");
    EXPECT_EQ(mnemonicOf("Pack"), "");
}

// Alt and a letter must reach one thing: the menu bar and the main dialog share the keys, and
// each menu has its own.
TEST(LanguageModules, NoTwoItemsShareAMnemonic) {
    Layout layout = readLayout();
    for (const char *language : languages) {
        std::map<std::string, std::string> texts = textsOf(language);
        std::vector<std::string> window = layout.topLevel;
        window.insert(window.end(), layout.mainDialog.begin(), layout.mainDialog.end());
        EXPECT_EQ(collisions(window, texts), std::vector<std::string>{})
            << language << ": the menu bar and the main window";
        // Start reads "Check" while Check only is on.
        std::replace(window.begin(), window.end(), std::string("T_START"), std::string("T_S420"));
        EXPECT_EQ(collisions(window, texts), std::vector<std::string>{})
            << language << ": the main window with Check only";
        for (const auto &[popup, items] : layout.popups)
            EXPECT_EQ(collisions(items, texts), std::vector<std::string>{})
                << language << ": the menu " << resolved(popup, texts);
    }
}

// Every text of the English interface has its own in each language; the few that read the
// same are listed.
TEST(LanguageModules, EveryTextIsTranslated) {
    const std::map<std::string, std::set<std::string>> sameAsEnglish = {
        {"de", {"T_START", "T_S463"}},
        {"fr", {"T_MENU_OPTIONS", "T_S463"}},
        {"es", {"T_S463"}},
        {"it", {"T_MENU_FILE", "T_S426", "T_S463"}},
    };
    std::map<std::string, std::string> english = textsOf("en");
    ASSERT_GT(english.size(), 50u);
    for (const auto &[language, allowed] : sameAsEnglish) {
        std::map<std::string, std::string> texts = textsOf(language);
        for (const auto &[name, text] : english) {
            auto it = texts.find(name);
            if (it == texts.end()) {
                ADD_FAILURE() << language << ": " << name << " missing";
                continue;
            }
            bool same = it->second == text;
            EXPECT_EQ(same, allowed.count(name) != 0) << language << ": " << name << " \"" << text
                                                      << "\"" << (same ? " untranslated" : "");
        }
        EXPECT_EQ(texts.size(), english.size()) << language;
    }
}

} // namespace
} // namespace salvora
