// Several table names on one command line, as a POSIX shell hands over an expanded wildcard.
// Each is repaired in place, as the wildcard batch would with the pattern, and reported in
// "recovery.log" of its folder.
#pragma once

#include <string>
#include <vector>

#include "app/appcontext.h"

namespace salvora {

// Returns the exit code: 0 when every table came out "OK", 1 otherwise.
int runNameListBatch(AppContext &app, const std::vector<std::string> &names, bool append);

} // namespace salvora
