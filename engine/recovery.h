// One recovery run: a damaged source table in, a fixed copy out.
#pragma once

#include <string>

#include "engine/enginecontext.h"
#include "engine/recoverywindow.h"

namespace salvora {

inline constexpr int recoveryFixed = 1;
inline constexpr int recoveryNothingProduced = 0;
inline constexpr int recoveryUnusable = -1;

// With a window and `folderMode` false the paths are read from the window ("single mode").
// Returns 1 when the fixed copy is in place, 0 when nothing was produced, -1 when the source
// could not be used (`context.lastError` then tells why when the system said so).
int runRecovery(EngineContext &context, RecoveryWindow *window, const std::string &sourcePath,
                const std::string &outputPath, bool folderMode);

} // namespace salvora
