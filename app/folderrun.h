// The main window's folder run: every table of a folder, or every match of a pattern, is
// recovered into an output folder, and the results are shown in the window's log box.
#pragma once

#include <string>

#include "app/runwindow.h"
#include "engine/recovery.h"

namespace salvora {

// `sourceText` is a folder or a pattern (a text with ".dbf" is taken as a pattern);
// `outputText` the output folder, or empty for the source's own folder. `request` gives the
// options and texts of every run, `texts` the status bar's words. Does nothing at all when no
// entry matches.
struct FolderRunTexts {
    std::string starting = "Start recovery...";
    std::string startingTable = "Start recovery: %s";
    std::string complete = "Process complete";
};
void runFolderRecovery(EngineContext &context, RunWindow *window, const std::string &sourceText,
                       const std::string &outputText, const FolderRunTexts &texts,
                       const RecoveryRequest &request, RunObserver &console);

// The pattern the folder run enumerates for `sourceText`.
std::string folderRunPattern(const std::string &sourceText);

} // namespace salvora
