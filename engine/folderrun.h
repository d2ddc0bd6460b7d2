// The main window's folder run: every table of a folder, or every match of a pattern, is
// recovered into an output folder, and the results are shown in the window's log box.
#pragma once

#include <string>

#include "engine/enginecontext.h"
#include "engine/recoverywindow.h"

namespace salvora {

// `sourceText` is a folder or a pattern (a text with ".dbf" is taken as a pattern);
// `outputText` the output folder, or empty for the source's own folder. The start message
// "Start recovery..." is English only, since it has no string of its own to translate.
// Does nothing at all when no entry matches.
void runFolderRecovery(EngineContext &context, RecoveryWindow *window,
                       const std::string &sourceText, const std::string &outputText, bool english);

// The pattern the folder run enumerates for `sourceText`.
std::string folderRunPattern(const std::string &sourceText);

} // namespace salvora
