// A check of one table: the analysis and the record walk of a repair, with nothing written,
// no work file made and the source opened for reading only.
#pragma once

#include "engine/recovery.h"
#include "engine/runreport.h"

namespace salvora {

enum class CheckVerdict { Sound, NeedsRepair, Unreadable };

// The request's options count as they would in a repair: with /deldups a duplicate needs
// one. Its output is not used. Everything found goes to `report`; the observer hears of the
// record walk only.
CheckVerdict checkTable(EngineContext &context, const RecoveryRequest &request, RunReport &report,
                        RunObserver &observer);

} // namespace salvora
