// A check of one table: the analysis and the record checks of a repair, with nothing written,
// no temporary file made and the source opened for reading only.
#pragma once

#include <string>

#include "engine/enginecontext.h"
#include "engine/runreport.h"

namespace salvora {

enum class CheckVerdict { Sound, NeedsRepair, Unreadable };

// The options in `context` count as they would in a repair: with /deldups a duplicate needs
// one. Everything found goes to `report`.
CheckVerdict checkTable(EngineContext &context, const std::string &sourcePath, RunReport &report);

} // namespace salvora
