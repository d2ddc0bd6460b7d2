// The interface language: chosen at start-up from the setting or the user's language,
// switched from the main window's menu, and the module strings are loaded from.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/appcontext.h"

namespace salvora {

inline constexpr int languageEnglish = 0;
inline constexpr int languageNotChosen = -1;

struct LanguageRow {
    int index;
    int command; // main window menu command (IDM_GERMAN and so on)
    const char *library;
};

const std::array<LanguageRow, 4> &languageTable();

// The language index for a Windows language id; 0 (English) for any id not listed.
int languageOfLanguageId(std::uint16_t id);

// Reads "LANG" (written as -1 when missing), derives the language on the first run and
// loads its library as `resourceModule`. A value outside -1 to 4 counts as English.
void chooseLanguage(AppContext &app);

// Menu commands IDM_ENGLISH to IDM_FRENCH. True when the language changed; `restartMainWindow` is
// then set and the window is to close so that it is rebuilt from the new resources.
bool switchLanguage(AppContext &app, int command);

// A string of the interface language, falling back to the English table.
std::string loadString(AppContext &app, int id);

} // namespace salvora
