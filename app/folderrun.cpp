#include "app/folderrun.h"

#include <vector>

#include "app/outcometext.h"
#include "app/resultstext.h"
#include "app/windowrun.h"
#include "engine/pathpattern.h"
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
                       const std::string &outputText, const FolderRunTexts &texts,
                       const RecoveryRequest &request, RunObserver &console) {
    PathPattern pattern = splitPattern(folderRunPattern(sourceText));
    std::vector<platform::DirectoryEntry> entries;
    context.os.listDirectory(listingFolder(pattern.folderPart), pattern.mask, entries);
    if (entries.empty())
        return;

    FolderRunView view(window);
    view.status(texts.starting);
    // No output folder given: the tables are repaired where they are.
    std::string outputFolder = outputText.empty() ? pattern.folderPart : withSeparator(outputText);

    ResultsText results;
    for (const platform::DirectoryEntry &entry : entries) {
        std::string source = pattern.folderPart + entry.name;
        std::string output = outputFolder + entry.name;
        view.status(formatText(texts.startingTable, source));
        RecoveryRequest table = request;
        table.source = source;
        table.output = output;
        RecoveryOutcome outcome = recoverForFolder(context, window, table, console);
        results.appendLine(formatText("%s: %s\r\n", source,
                                      outcomeText(context.os, outcome, OutcomeWording::Window)));
        view.results(results);
    }
    view.results(results);
    view.status(texts.complete);
}

} // namespace salvora
