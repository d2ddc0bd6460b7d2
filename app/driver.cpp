#include "app/driver.h"

#include "app/addresses.h"
#include "app/batch.h"
#include "app/batchjobs.h"
#include "app/checkmode.h"
#include "app/language.h"
#include "app/namelist.h"
#include "app/persistence.h"
#include "app/progressline.h"
#include "app/reportfile.h"
#include "app/singlefile.h"
#include "app/usage.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

void startUp(AppContext &app, bool writeNothing) {
    app.system.initCommonControls();
    app.resourceModule = app.system.ownModule();
    // A check writes nothing at all: not even a first settings file.
    if (!app.settings && writeNothing)
        app.settings = std::make_unique<SettingsStore>(nullptr, settingsOpenFailed);
    if (!app.settings)
        app.settings =
            std::make_unique<SettingsStore>(openNativeSettings(app.engine.os, app.system));
    loadRemembered(app);
    chooseLanguage(app);
}

// Returns the status of the last settings write, 0 when it succeeded.
int shutDown(AppContext &app) {
    bool added = !app.lastSource.empty() && app.history.addIfNew(app.lastSource, app.lastOutput);
    return saveRemembered(app, added);
}

int windowMode(AppContext &app, const std::string &arguments) {
    app.windowArguments = arguments;
    if (!app.mainWindow) {
        // This build has no window: say what the command line can do instead.
        app.standardError.write(usageText());
        shutDown(app);
        return exitNothingToDo;
    }
    loadWindowOptions(app);
    do {
        app.restartMainWindow = false;
        app.mainWindow(app);
    } while (app.restartMainWindow);
    saveWindowOptions(app);
    return shutDown(app);
}

void setUpConsole(AppContext &app, bool console) {
    if (console) {
        switch (app.system.attachParentConsole()) {
        case platform::ConsoleAttach::NoKernel32:
            app.system.messageBox("Error Load Kernel32", "Error");
            break;
        case platform::ConsoleAttach::NoAttachConsole:
            app.system.messageBox("Error Load AttachConsole", "Error");
            break;
        case platform::ConsoleAttach::Attached:
            break;
        }
        app.consoleOut = &app.standardOutput;
    } else {
        app.system.createConsole();
        app.consoleOut = nullptr;
    }
    app.standardOutput.write(bannerLine());
    // A progress line only makes sense where someone watches it.
    if (app.system.isTerminal(platform::StandardStream::Error)) {
        app.progressLine = std::make_unique<ProgressLine>(
            [&app](std::string_view text) { app.standardError.write(text); }, steadySeconds);
    }
}

void applyOptions(RecoveryOptions &options, const CommandLine &line) {
    options.deleteEmpty = line.deleteEmpty;
    options.deleteDuplicates = line.deleteDuplicates;
    options.detailedLog = line.detailedLog;
    options.pack = line.pack;
    options.recoverDeleted = line.recoverDeleted;
    options.keepOriginal = line.backup;
}

bool namesATable(const CommandLine &line) {
    for (const auto &name : line.names)
        if (findNoCase(name, ".dbf") != std::string::npos)
            return true;
    // "folder /output:x.dbf" still is a single-file run, as the one text would say.
    return !line.names.empty() && line.output &&
           findNoCase(*line.output, ".dbf") != std::string::npos;
}

bool hasWildcard(const std::string &name) {
    return name.find_first_of("*?") != std::string::npos;
}

bool outputCannotApply(AppContext &app, const CommandLine &line) {
    if (line.recurse || line.names.size() != 1 || hasWildcard(line.names.front()))
        return true;
    auto attributes = app.engine.os.getAttributes(line.names.front());
    return attributes && attributes->isDirectory;
}

int refuse(AppContext &app, const std::string &why) {
    app.standardError.write(why + "\r\n");
    return exitNothingToDo;
}

int processCommandLine(AppContext &app, const CommandLine &line) {
    setUpConsole(app, line.console);
    applyOptions(app.options, line);
    app.tableTemplate = line.tableTemplate.value_or("");
    if (!namesATable(line))
        return windowMode(app, line.windowArguments);
    // A check and a report are about one table; a batch would mix tables in one answer.
    bool oneTable = !line.recurse && line.names.size() == 1 && !hasWildcard(line.names.front());
    if (line.check) {
        if (!oneTable)
            return refuse(app, "/check takes one table; name a single table with it.");
        return runCheck(app, line.names.front(), line.report);
    }
    if (line.report && (!oneTable || line.gui))
        return refuse(app, "/report: takes one table; name a single table with it.");
    // A copy elsewhere was asked for: repairing the matches in place instead would be wrong.
    if (line.output && outputCannotApply(app, line))
        return refuse(app, "/output: takes one table; name a single table with it.");
    app.batchJobs = defaultJobCount();
    if (line.jobs) {
        std::optional<unsigned> jobs = readJobCount(*line.jobs);
        if (!jobs)
            return refuse(app, formatText("/jobs: takes a whole number from 1 to %d.",
                                          static_cast<std::int64_t>(maximumJobs)));
        app.batchJobs = *jobs;
    }
    if (line.recurse) {
        if (line.names.size() != 1)
            return refuse(app, "/recurse takes one pattern; quote it so that the shell leaves "
                               "it alone.");
        return runRecursiveBatch(app, line.names.front());
    }
    if (line.names.size() == 1 && hasWildcard(line.names.front()))
        return runWildcardBatch(app, line.names.front(), line.logAppend);
    if (line.gui)
        return windowMode(app, line.windowArguments);
    if (line.names.size() > 1) {
        if (line.output)
            return refuse(app, "/output: takes one table; name a single table with it.");
        return runNameListBatch(app, line.names, line.logAppend);
    }
    std::string output = line.output.value_or(line.names.front());
    if (line.report && reportWouldOverwrite(app.engine.os, *line.report, line.names.front(), output,
                                            logNameFor(output)))
        return refuse(app, *line.report + ": the report would overwrite a file of the run.");
    return runSingleFile(app, line.names.front(), line.output, line.report);
}

} // namespace

CommandLine readCommandLine(platform::AppSystem &system, int argc, char **argv) {
    if (auto raw = system.rawArgumentText())
        return readArgumentText(*raw);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    return readArguments(arguments);
}

int runProgram(AppContext &app, const CommandLine &line) {
    if (line.uninstall) {
        if (!app.system.shellOpen(uninstallAddress))
            app.standardOutput.write(formatText("%s\r\n", uninstallAddress));
        return 0;
    }
    if (line.help) {
        app.standardOutput.write(usageText());
        return 0;
    }
    if (line.version) {
        app.standardOutput.write(bannerLine());
        return 0;
    }

    startUp(app, line.check);

    if (line.historyTo) {
        platform::ErrorCode error = exportHistory(app.engine.os, app.history, *line.historyTo);
        if (error != 0) {
            app.standardError.write(
                formatText("%s: %s\r\n", *line.historyTo, app.engine.os.errorText(error)));
            return exitSomeUnrecoverable;
        }
        return 0;
    }
    if (line.clearHistory) {
        clearRememberedHistory(app);
        return windowMode(app, line.wholeText);
    }
    if (line.empty)
        return windowMode(app, std::string());
    return processCommandLine(app, line);
}

} // namespace salvora
