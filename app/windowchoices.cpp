#include "app/windowchoices.h"

namespace salvora {

namespace {

constexpr const char *checkOnlyValue = "CHECKONLY";
constexpr const char *reportValue = "REPORT";
constexpr std::size_t reportBytes = 260;

} // namespace

void loadWindowChoices(AppContext &app) {
    SettingsStore &store = *app.settings;
    std::optional<std::string> checkOnly = store.readValue(checkOnlyValue, 4);
    app.windowCheckOnly = checkOnly && checkOnly->size() == 4 &&
                          checkOnly->find_first_not_of('\0') != std::string::npos;
    app.windowReport = store.readText(reportValue, reportBytes).value_or(std::string());
}

void saveWindowChoices(AppContext &app) {
    app.settings->writeNumber(checkOnlyValue, app.windowCheckOnly ? 1 : 0);
    app.settings->writeText(reportValue, app.windowReport);
}

} // namespace salvora
