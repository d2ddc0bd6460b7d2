#include "engine/reportformat.h"

#include <cstdio>

#include "engine/textformat.h"

namespace salvora {

namespace {

constexpr const char *lineEnd = "\r\n";

std::string shown(std::span<const std::uint8_t> value) {
    std::string text = "\"";
    for (std::uint8_t b : value) {
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            text += static_cast<char>(b);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", b);
            text += escaped;
        }
    }
    return text + "\"";
}

// Quoted only when it has to be, as spreadsheets read it.
std::string csvCell(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string cell = "\"";
    for (char c : text) {
        if (c == '"')
            cell += '"';
        cell += c;
    }
    return cell + "\"";
}

} // namespace

ReportFormat reportFormatFor(std::string_view fileName) {
    if (fileName.size() >= 4 && findNoCase(fileName.substr(fileName.size() - 4), ".csv") == 0)
        return ReportFormat::Csv;
    if (fileName.size() >= 5 && findNoCase(fileName.substr(fileName.size() - 5), ".json") == 0)
        return ReportFormat::Json;
    return ReportFormat::Text;
}

std::string findingProblem(Finding finding, std::span<const std::uint8_t> value,
                           std::uint32_t number) {
    switch (finding) {
    case Finding::DroppedByPack:
    case Finding::Undeleted:
    case Finding::DeletedNotKept:
        return "marked as deleted";
    case Finding::DroppedEmpty:
        return "empty record";
    case Finding::Duplicate:
        return formatText("duplicate of record %d", std::int64_t{number} + 1);
    case Finding::DeletionFlagRepaired:
        return "deletion flag " + shown(value);
    case Finding::LogicalRepaired:
        return "logical value " + shown(value);
    case Finding::InvalidMemoCleared:
    case Finding::InvalidMemoDropped:
        return formatText("memo reference to block %d leads to no sound memo", number);
    case Finding::BadDateTime:
        if (value.size() == 4)
            return formatText("date-time day number %d outside the years 1900 to 3000",
                              static_cast<std::int32_t>(readLe32(value.data())));
        return "date-time " + shown(value) + " outside the years 1900 to 3000";
    case Finding::BadDate:
        return "date " + shown(value) + " is not YYYYMMDD";
    case Finding::BadNumber:
        return "number " + shown(value) + " has a character no number has";
    case Finding::ZeroedRecord:
        return "every byte NUL, the deletion flag too";
    }
    return {};
}

const char *findingAction(Finding finding) {
    switch (finding) {
    case Finding::DroppedByPack:
        return "record dropped by /pack";
    case Finding::DroppedEmpty:
        return "record dropped by /delempty";
    case Finding::Undeleted:
        return "deletion mark removed by /recoverydeleted, record kept";
    case Finding::Duplicate:
        return "record dropped by /deldups";
    case Finding::DeletionFlagRepaired:
    case Finding::LogicalRepaired:
        return "repaired to a blank";
    case Finding::InvalidMemoCleared:
        return "reference cleared (no memo)";
    case Finding::InvalidMemoDropped:
        return "reference cleared, record dropped (delete records with invalid memo)";
    case Finding::BadDateTime:
        return "record dropped by the date-time test";
    case Finding::BadDate:
        return "record dropped by the date test";
    case Finding::BadNumber:
        return "record dropped by the numeric test";
    case Finding::DeletedNotKept:
        return "record dropped (deleted records are not kept)";
    case Finding::ZeroedRecord:
        return "record dropped (zeroed, no record)";
    }
    return "";
}

std::string reportHeaderLine(ReportFormat format) {
    return format == ReportFormat::Csv ? std::string("record,field,problem,action") + lineEnd
                                       : std::string();
}

std::string findingLine(ReportFormat format, std::uint64_t record, std::string_view field,
                        std::string_view problem, std::string_view action) {
    std::string number = record == 0 ? std::string() : std::to_string(record);
    if (format == ReportFormat::Csv)
        return number + "," + csvCell(field) + "," + csvCell(problem) + "," + csvCell(action) +
               lineEnd;
    std::string where = record == 0 ? std::string("Table") : "Record " + number;
    if (!field.empty())
        where += ", field " + std::string(field);
    return where + ": " + std::string(problem) + "; " + std::string(action) + lineEnd;
}

std::string summaryLine(ReportFormat format, std::string_view item, std::string_view value) {
    if (format == ReportFormat::Csv)
        return ",," + csvCell(item) + "," + csvCell(value) + lineEnd;
    return std::string(item) + ": " + std::string(value) + lineEnd;
}

} // namespace salvora
