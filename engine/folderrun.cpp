#include "engine/folderrun.h"

#include <vector>

#include "engine/pathpattern.h"
#include "engine/recovery.h"
#include "engine/resultstext.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

std::string withSeparator(const std::string &folder) {
    if (!folder.empty() && platform::isPathSeparator(folder.back()))
        return folder;
    return folder + platform::preferredSeparator();
}

class FolderRunView {
  public:
    explicit FolderRunView(RecoveryWindow *window) : window_(window) {}
    void status(const std::string &text) {
        if (window_)
            window_->setControlText(control::statusBar, text);
    }
    void results(const ResultsText &results) {
        if (window_)
            window_->setControlText(control::logBox, results.text());
    }

  private:
    RecoveryWindow *window_;
};

std::string resultText(EngineContext &context, int result) {
    if (result == recoveryFixed)
        return "OK";
    // A name too long for the system was never worked on, whichever name it was: say so.
    if (context.lastError == platform::errorNameTooLong())
        return context.os.errorText(context.lastError);
    // A run that failed without a system error (an unknown table type) has no message of
    // the system's to show; "The operation completed successfully" would mislead.
    if (result == recoveryNothingProduced || context.lastError == 0)
        return "Unrecoverable";
    return context.os.errorText(context.lastError);
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

void runFolderRecovery(EngineContext &context, RecoveryWindow *window,
                       const std::string &sourceText, const std::string &outputText, bool english) {
    PathPattern pattern = splitPattern(folderRunPattern(sourceText));
    std::vector<platform::DirectoryEntry> entries;
    context.os.listDirectory(listingFolder(pattern.folderPart), pattern.mask, entries);
    if (entries.empty())
        return;

    FolderRunView view(window);
    if (english)
        view.status("Start recovery...");
    // No output folder given: the tables are repaired where they are.
    std::string outputFolder = outputText.empty() ? pattern.folderPart : withSeparator(outputText);

    ResultsText results;
    for (const platform::DirectoryEntry &entry : entries) {
        std::string source = pattern.folderPart + entry.name;
        std::string output = outputFolder + entry.name;
        view.status(formatText("Start recovery: %s", source));
        int result = runRecovery(context, window, source, output, true);
        results.appendLine(formatText("%s: %s\r\n", source, resultText(context, result)));
        view.results(results);
    }
    view.results(results);
    view.status("Process complete");
}

} // namespace salvora
