// Runs the engine the way its callers do, from what a test sets beforehand (options, texts,
// a console, a report), and keeps what the run left (its message, its system error) where
// the test reads it.
#pragma once

#include <functional>
#include <string>

#include "app/enginerun.h"
#include "app/progressline.h"
#include "app/runwindow.h"
#include "engine/recovery.h"
#include "engine/tablecheck.h"

namespace salvora::testing {

struct EngineRun {
    explicit EngineRun(platform::Platform &platform)
        : engine(platform), os(platform), globalFlags(engine.globalFlags) {}

    EngineContext engine;
    platform::Platform &os;
    std::uint32_t &globalFlags;
    RecoveryOptions options;
    std::string tableTemplate;
    RunTexts texts;
    RunReport *report = nullptr;
    TextSink *consoleOut = nullptr;
    ProgressObserver *progress = nullptr;
    ConsoleRunObserver::MessageBox ownerlessMessage;

    // What the last run left.
    RecoveryOutcome outcome;
    std::string messageText;
    platform::ErrorCode lastError = 0;
    // The output name a window run took from its box.
    std::string lastOutput;

    RecoveryRequest request(const std::string &source, const std::string &output) const;
    // Without a window as the command line runs a table; with one as the main window runs
    // the table named in its boxes, or (`folderMode`) one table of a folder run.
    int run(RunWindow *window, const std::string &source, const std::string &output,
            bool folderMode);
    CheckVerdict check(const std::string &source, RunReport &checkReport);
};

} // namespace salvora::testing
