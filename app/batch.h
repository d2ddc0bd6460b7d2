// The command-line batches: a wildcard in one folder, and a wildcard over a folder tree.
// Both repair every matching table in place and write "recovery.log" in the folder.
#pragma once

#include <string>

#include "app/appcontext.h"

namespace salvora {

// `pattern` is a folder, a separator and a mask with '*' or '?' (no folder: the current
// one); `append` comes from "/logappend". Returns the exit code: 0 when every table came out
// "OK", 1 when any did not, 2 when nothing matched (then no log is written).
int runWildcardBatch(AppContext &app, const std::string &pattern, bool append);

// `argumentText` is the command line's name part (folder, separator and mask), already cut
// before the switches. The log is always replaced, and written even when nothing matches;
// the exit code is 2 then too.
int runRecursiveBatch(AppContext &app, const std::string &argumentText);

} // namespace salvora
