#include "app/persistence.h"

#include <algorithm>

#include "app/windowchoices.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

constexpr std::size_t folderBytes = 254;
constexpr std::size_t nameBytes = 255;

std::string sourceValue(std::size_t i) {
    return formatText("SRC%d", i);
}
std::string outputValue(std::size_t i) {
    return formatText("DST%d", i);
}

} // namespace

void loadRemembered(AppContext &app) {
    SettingsStore &store = *app.settings;
    app.lastFolder = store.readText("PATH", folderBytes).value_or(std::string());
    std::uint32_t count = 0;
    if (auto data = store.readValue("RECENTS", 4); data && data->size() == 4)
        for (int i = 3; i >= 0; --i)
            count = count << 8 | static_cast<unsigned char>((*data)[static_cast<std::size_t>(i)]);
    // Only an edited store holds more; the lists cannot.
    count = std::min<std::uint32_t>(count, HistoryList::capacity);
    for (std::size_t i = 0; i < count; ++i)
        app.history.append(store.readText(sourceValue(i), nameBytes).value_or(std::string()),
                           store.readText(outputValue(i), nameBytes).value_or(std::string()));
    app.history.finishLoading();
    loadWindowChoices(app);
}

void clearRememberedHistory(AppContext &app) {
    for (std::size_t i = 0; i < app.history.size(); ++i) {
        app.settings->writeText(sourceValue(i), "");
        app.settings->writeText(outputValue(i), "");
    }
    app.history.clear();
}

void loadWindowOptions(AppContext &app) {
    app.options.keepOriginal = app.settings->readNumber("KEEPORIGINAL", 1) != 0 ? 1 : 0;
}

void saveWindowOptions(AppContext &app) {
    app.settings->writeNumber("KEEPORIGINAL", app.options.keepOriginal != 0 ? 1 : 0);
}

int saveRemembered(AppContext &app, bool historyChanged) {
    SettingsStore &store = *app.settings;
    if (historyChanged)
        for (std::size_t i = 0; i < app.history.size(); ++i) {
            store.writeText(sourceValue(i), app.history.source(i));
            store.writeText(outputValue(i), app.history.output(i));
        }
    std::uint32_t count = static_cast<std::uint32_t>(app.history.size());
    std::string recents(4, '\0');
    for (int i = 0; i < 4; ++i)
        recents[static_cast<std::size_t>(i)] = static_cast<char>((count >> (8 * i)) & 0xFF);
    store.writeBytes("RECENTS", recents);
    store.writeText("PATH", app.lastFolder);
    saveWindowChoices(app);
    return store.writeNumber("LANG", app.language);
}

} // namespace salvora
