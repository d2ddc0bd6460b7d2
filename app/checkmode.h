// "/check": one table analysed and checked with nothing written; the summary goes to
// standard output and the report, when named, to its file.
#pragma once

#include <optional>
#include <string>

#include "app/appcontext.h"

namespace salvora {

inline constexpr int exitCheckSound = 0;
inline constexpr int exitCheckNeedsRepair = 1;
inline constexpr int exitCheckUnreadable = 2;

int runCheck(AppContext &app, const std::string &source, const std::optional<std::string> &report);

} // namespace salvora
