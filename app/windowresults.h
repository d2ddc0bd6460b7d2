// The results box after a run from the window: what happened, counted, in the interface
// language. The findings of a check stay in the report's own words.
#pragma once

#include <string>

#include "app/appcontext.h"
#include "engine/runreport.h"
#include "engine/tablecheck.h"

namespace salvora {

// Records read, kept and dropped (each reason on a line of its own), memos carried,
// references cleared and, when given, the output's name.
std::string runCountsText(AppContext &app, const RunTotals &totals, bool referencesCleared,
                          const std::string &output);

// A check: that nothing was written, the verdict, the counts, then the findings.
// `moreFindings` is how many findings `findings` left out.
std::string checkResultsText(AppContext &app, CheckVerdict verdict, const RunTotals &totals,
                             bool referencesCleared, const std::string &findings,
                             std::uint64_t moreFindings);

} // namespace salvora
