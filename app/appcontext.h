// The front end's process-wide state, created by the entry point and passed to every mode.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/console.h"
#include "app/history.h"
#include "app/progressline.h"
#include "app/settings.h"
#include "engine/enginecontext.h"
#include "platform/appsystem.h"

namespace salvora {

struct AppContext {
    AppContext(EngineContext &engineContext, platform::AppSystem &appSystem)
        : engine(engineContext), system(appSystem),
          standardOutput(appSystem, platform::StandardStream::Output),
          standardError(appSystem, platform::StandardStream::Error) {}

    EngineContext &engine;
    platform::AppSystem &system;
    StandardStreamSink standardOutput;
    StandardStreamSink standardError;
    // The filters and switches of the command line or the main window's menu.
    RecoveryOptions options;
    // Tables a command-line batch repairs at once ("/jobs:").
    unsigned batchJobs = 1;
    // Set when the program has a console of the user's; runs echo their texts there.
    TextSink *consoleOut = nullptr;
    // Set when someone watches standard error.
    std::unique_ptr<ProgressObserver> progressLine;

    // Opened at start-up unless a test put one here before.
    std::unique_ptr<SettingsStore> settings;
    HistoryList history;
    std::string lastFolder;
    std::string lastSource;
    std::string lastOutput;

    // Interface language 0 to 4 and the module its strings come from (0: the program's own).
    int language = 0;
    platform::ModuleHandle resourceModule = 0;
    std::string windowArguments;
    bool restartMainWindow = false;
    // The names in the window's boxes when a language change closed it: the next window shows
    // them and starts nothing.
    std::optional<std::pair<std::string, std::string>> keptWindowNames;
    // "Minimize to tray" of the main window: off at start, kept across a language change.
    bool trayMode = false;
    // The main window's "Check only" and "Write report..." (empty: no report); remembered.
    bool windowCheckOnly = false;
    std::string windowReport;
    // Shows the main window once and returns its result; empty in a build without a window.
    std::function<int(AppContext &)> mainWindow;
};

} // namespace salvora
