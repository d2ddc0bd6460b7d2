// The words of a repair report: what a finding says and does, and how a line of the report is
// laid out as plain text or as CSV (JSON: engine/reportjson.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "engine/findings.h"

namespace salvora {

enum class ReportFormat { Text, Csv, Json };

// ".csv" or ".json" at the end of the name, in any case, asks for CSV or JSON.
ReportFormat reportFormatFor(std::string_view fileName);

// What was wrong, with the value as found: printable bytes as they are, others as \xNN.
std::string findingProblem(Finding finding, std::span<const std::uint8_t> value,
                           std::uint32_t number);
// What the repair does (or, in a check, would do) about it.
const char *findingAction(Finding finding);

// The first line of a CSV report; nothing for plain text.
std::string reportHeaderLine(ReportFormat format);

// One finding. `record` is 1-based, 0 for the table as a whole; `field` is empty for the
// record or table as a whole.
std::string findingLine(ReportFormat format, std::uint64_t record, std::string_view field,
                        std::string_view problem, std::string_view action);

// One summary item ("Records read", "12").
std::string summaryLine(ReportFormat format, std::string_view item, std::string_view value);

} // namespace salvora
