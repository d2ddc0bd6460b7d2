// The main window's folder run: every table of a folder, or every match of a pattern, is
// recovered into an output folder, and the results are shown in the window's log box.
#pragma once

#include <string>

#include "app/runwindow.h"
#include "engine/recovery.h"

namespace salvora {

// `sourceText` is a folder or a pattern (a text with ".dbf" is taken as a pattern);
// `outputText` the output folder, or empty for the source's own folder. `request` gives the
// options and texts of every run. The start message "Start recovery..." is English only,
// since it has no string of its own to translate. Does nothing at all when no entry matches.
void runFolderRecovery(EngineContext &context, RunWindow *window, const std::string &sourceText,
                       const std::string &outputText, bool english, const RecoveryRequest &request,
                       RunObserver &console);

// What the window asks of a folder run beyond the names, in the interface language.
struct FolderRunChoices {
    // Each table is checked instead of repaired; nothing is written.
    bool checkOnly = false;
    std::string skippedSecondName = "Skipped: same table as %s";
    std::string tableCancelled = "Cancelled, left as it was";
    // Formatted with the tables done and the tables found.
    std::string folderCancelled = "Cancelled: %d of %d tables done; the tables done stay repaired.";
    // A repaired table's word, and a failed one's where the system gave no reason.
    std::string tableOk = "OK";
    std::string tableUnrecoverable = "Unrecoverable";
    std::string verdictSound = "No repair needed.";
    std::string verdictNeedsRepair = "The table needs a repair.";
    std::string verdictUnreadable = "The table cannot be read: %s";
    // The status bar's words.
    std::string starting = "Start recovery...";
    std::string startingTable = "Start recovery: %s";
    std::string complete = "Process complete";
};

// As above. `console.cancelled()` is asked before each table and inside it: a cancelled run
// keeps the tables done, leaves the current one as it was and ends with a summary line. A
// second name of a table already taken up (a link, another spelling) is skipped.
void runFolderRecovery(EngineContext &context, RunWindow *window, const std::string &sourceText,
                       const std::string &outputText, bool english, const RecoveryRequest &request,
                       RunObserver &console, const FolderRunChoices &choices);

// The pattern the folder run enumerates for `sourceText`.
std::string folderRunPattern(const std::string &sourceText);

} // namespace salvora
