#include "app/language.h"

#include <algorithm>

#include "app/strings.h"
#include "resources/resource.h"

namespace salvora {

namespace {

constexpr std::uint16_t germanIds[] = {0x0407, 0x0807, 0x0C07, 0x1007, 0x1407};
constexpr std::uint16_t italianIds[] = {0x0410, 0x0810};
constexpr std::uint16_t frenchIds[] = {0x040C};

template <std::size_t N> bool listed(const std::uint16_t (&ids)[N], std::uint16_t id) {
    return std::find(std::begin(ids), std::end(ids), id) != std::end(ids);
}

// 040A to 500A in steps of 0x400: every Spanish id the language choice knows.
bool isListedSpanish(std::uint16_t id) {
    return (id & 0x3FF) == 0x0A && id >= 0x040A && id <= 0x500A;
}

} // namespace

const std::array<LanguageRow, 4> &languageTable() {
    static const std::array<LanguageRow, 4> table = {{
        {1, IDM_GERMAN, "de.dll"},
        {2, IDM_ITALIAN, "it.dll"},
        {3, IDM_SPANISH, "es.dll"},
        {4, IDM_FRENCH, "fr.dll"},
    }};
    return table;
}

int languageOfLanguageId(std::uint16_t id) {
    if (listed(germanIds, id))
        return 1;
    if (listed(italianIds, id))
        return 2;
    if (isListedSpanish(id))
        return 3;
    if (listed(frenchIds, id))
        return 4;
    return languageEnglish;
}

void chooseLanguage(AppContext &app) {
    int language =
        app.settings ? app.settings->readNumber("LANG", languageNotChosen) : languageNotChosen;
    if (language < languageNotChosen || language > 4)
        language = languageEnglish;
    if (language == languageNotChosen)
        language = languageOfLanguageId(app.system.userDefaultLanguageId());
    app.language = language;
    app.resourceModule = app.system.ownModule();
    for (const auto &row : languageTable())
        if (row.index == language)
            app.resourceModule = app.system.loadLibrary(row.library);
}

bool switchLanguage(AppContext &app, int command) {
    int previous = app.language;
    for (const auto &row : languageTable()) {
        if (row.command != command)
            continue;
        if (platform::ModuleHandle module = app.system.loadLibrary(row.library)) {
            app.resourceModule = module;
            app.language = row.index;
        }
    }
    if (command == IDM_ENGLISH && app.language != languageEnglish) {
        app.resourceModule = app.system.ownModule();
        app.language = languageEnglish;
    }
    if (app.language == previous)
        return false;
    app.restartMainWindow = true;
    return true;
}

std::string loadString(AppContext &app, int id) {
    platform::ModuleHandle own = app.system.ownModule();
    platform::ModuleHandle module = app.resourceModule != 0 ? app.resourceModule : own;
    if (auto text = app.system.loadString(module, id))
        return *text;
    if (module != own)
        if (auto text = app.system.loadString(own, id))
            return *text;
    return builtInString(id);
}

} // namespace salvora
