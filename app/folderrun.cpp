#include "app/folderrun.h"

#include <vector>

#include "app/outcometext.h"
#include "app/resultstext.h"
#include "app/seentables.h"
#include "app/windowrun.h"
#include "engine/pathpattern.h"
#include "engine/tablecheck.h"
#include "engine/textformat.h"
#include "resources/resource.h"

namespace salvora {

namespace {

std::string withSeparator(const std::string &folder) {
    if (!folder.empty() && platform::isPathSeparator(folder.back()))
        return folder;
    return folder + platform::preferredSeparator();
}

class FolderRunView {
  public:
    explicit FolderRunView(RunWindow *window) : window_(window) {}
    void status(const std::string &text) {
        if (window_)
            window_->setControlText(IDC_STATUS, text);
    }
    void results(const ResultsText &results) {
        if (window_)
            window_->setControlText(IDC_LOG, results.text());
    }

  private:
    RunWindow *window_;
};

RecoveryOutcome recoverForFolder(EngineContext &context, RunWindow *window, RecoveryRequest request,
                                 RunObserver &console) {
    if (!window)
        return runRecovery(context, request, console);
    request.keepDeleted = window->isChecked(IDC_KEEP_DELETED);
    WindowRunObserver observer(*window, WindowRunKind::Folder, console);
    return runRecovery(context, request, observer);
}

// A check of one table for the folder run's line: its verdict in the window's words.
std::string checkForFolder(EngineContext &context, RunWindow *window, RecoveryRequest request,
                           RunObserver &console, const FolderRunChoices &choices) {
    RunReport report(request.source, ReportFormat::Text, nullptr, true);
    CheckVerdict verdict;
    if (window) {
        WindowRunObserver observer(*window, WindowRunKind::Folder, console);
        verdict = checkTable(context, request, report, observer);
    } else {
        verdict = checkTable(context, request, report, console);
    }
    switch (verdict) {
    case CheckVerdict::Sound:
        return choices.verdictSound;
    case CheckVerdict::NeedsRepair:
        return choices.verdictNeedsRepair;
    case CheckVerdict::Unreadable:
        break;
    }
    return formatText(choices.verdictUnreadable, report.totals().unreadable);
}

} // namespace

std::string folderRunPattern(const std::string &sourceText) {
    if (findNoCase(sourceText, ".dbf") != std::string::npos)
        return sourceText;
    // An empty source is the current folder, not the root that a bare separator would name.
    if (sourceText.empty())
        return "*.dbf";
    return withSeparator(sourceText) + "*.dbf";
}

void runFolderRecovery(EngineContext &context, RunWindow *window, const std::string &sourceText,
                       const std::string &outputText, bool english, const RecoveryRequest &request,
                       RunObserver &console) {
    runFolderRecovery(context, window, sourceText, outputText, english, request, console,
                      FolderRunChoices{});
}

void runFolderRecovery(EngineContext &context, RunWindow *window, const std::string &sourceText,
                       const std::string &outputText, bool english, const RecoveryRequest &request,
                       RunObserver &console, const FolderRunChoices &choices) {
    PathPattern pattern = splitPattern(folderRunPattern(sourceText));
    std::vector<platform::DirectoryEntry> entries;
    context.os.listDirectory(listingFolder(pattern.folderPart), pattern.mask, entries);
    if (entries.empty())
        return;

    FolderRunView view(window);
    if (english)
        view.status(choices.starting);
    // No output folder given: the tables are repaired where they are.
    std::string outputFolder = outputText.empty() ? pattern.folderPart : withSeparator(outputText);

    ResultsText results;
    SeenTables seen(context.os);
    std::size_t done = 0;
    bool cancelled = false;
    for (const platform::DirectoryEntry &entry : entries) {
        if (console.cancelled()) {
            cancelled = true;
            break;
        }
        std::string source = pattern.folderPart + entry.name;
        std::string output = outputFolder + entry.name;
        if (std::optional<std::string> first = seen.firstNameOf(source)) {
            results.appendLine(
                formatText("%s: %s\r\n", source, formatText(choices.skippedSecondName, *first)));
            view.results(results);
            ++done;
            continue;
        }
        view.status(formatText(choices.startingTable, source));
        RecoveryRequest table = request;
        table.source = source;
        table.output = output;
        std::string word;
        if (choices.checkOnly) {
            word = checkForFolder(context, window, table, console, choices);
            cancelled = console.cancelled();
        } else {
            RecoveryOutcome outcome = recoverForFolder(context, window, table, console);
            seen.repaired(source);
            cancelled = outcome.cancelled;
            word = cancelled ? choices.tableCancelled
                             : outcomeText(context.os, outcome, OutcomeWording::Window,
                                           {choices.tableOk, choices.tableUnrecoverable});
        }
        if (cancelled && choices.checkOnly)
            word = choices.tableCancelled;
        results.appendLine(formatText("%s: %s\r\n", source, word));
        view.results(results);
        if (cancelled)
            break;
        ++done;
    }
    if (cancelled) {
        results.appendLine(formatText(choices.folderCancelled, done, entries.size()) + "\r\n");
        view.results(results);
        view.status("");
        return;
    }
    view.results(results);
    view.status(choices.complete);
}

} // namespace salvora
