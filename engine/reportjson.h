// The report as one JSON object, for scripts and monitoring. It is written as it grows like
// the other formats: the opening and each finding at once, the totals when the run ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace salvora {

struct RunTotals;

// A JSON string. Bytes that are not UTF-8 stand for the Latin-1 character of their value, so
// that a damaged field name or a name in a Windows code page still gives valid JSON.
std::string jsonString(std::string_view text);

// `{"table": ..., "mode": ..., "findings": [`
std::string jsonReportOpening(std::string_view table, bool checkOnly);

// One element of "findings"; `record` 0 and an empty `field` become null.
std::string jsonFinding(bool first, std::uint64_t record, std::string_view field,
                        std::string_view problem, std::string_view action);

// `]`, the totals, and `}`.
std::string jsonReportClosing(const RunTotals &totals);

} // namespace salvora
