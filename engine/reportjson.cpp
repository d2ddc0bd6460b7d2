#include "engine/reportjson.h"

#include <cstdio>

#include "engine/findings.h"
#include "engine/runreport.h"

namespace salvora {

namespace {

constexpr const char *lineEnd = "\r\n";

// The length of the well-formed UTF-8 sequence at the start of `text`, 0 when there is none.
std::size_t utf8Length(std::string_view text) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(0);
    std::size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                         : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xC2 && lead <= 0xDF ? 2
                                                        : 0;
    if (length == 0 || text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0) ||
        (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90))
        return 0;
    return length;
}

struct ReasonKey {
    Finding finding;
    const char *key;
};

// Every reason is always present, so that a script finds its key in every report.
constexpr ReasonKey reasonKeys[] = {
    {Finding::DroppedByPack, "pack"},   {Finding::DroppedEmpty, "delempty"},
    {Finding::Duplicate, "deldups"},    {Finding::InvalidMemoDropped, "invalidMemo"},
    {Finding::BadDateTime, "dateTime"}, {Finding::BadDate, "date"},
    {Finding::BadNumber, "numeric"},    {Finding::DeletedNotKept, "deleted"},
    {Finding::ZeroedRecord, "zeroed"},
};

std::string member(const char *name, const std::string &value) {
    return std::string(",") + lineEnd + "  \"" + name + "\": " + value;
}

} // namespace

std::string jsonString(std::string_view text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        auto c = static_cast<std::uint8_t>(text[at]);
        if (c >= 0x80) {
            if (std::size_t n = utf8Length(text.substr(at)); n != 0) {
                json += text.substr(at, n);
                at += n;
                continue;
            }
            json += static_cast<char>(0xC0 | (c >> 6));
            json += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else {
            json += static_cast<char>(c);
        }
        ++at;
    }
    return json + "\"";
}

std::string jsonReportOpening(std::string_view table, bool checkOnly) {
    return std::string("{") + lineEnd + "  \"table\": " + jsonString(table) + "," + lineEnd +
           "  \"mode\": \"" + (checkOnly ? "check" : "repair") + "\"," + lineEnd +
           "  \"findings\": [";
}

std::string jsonFinding(bool first, std::uint64_t record, std::string_view field,
                        std::string_view problem, std::string_view action) {
    return std::string(first ? "" : ",") + lineEnd +
           "    {\"record\": " + (record == 0 ? std::string("null") : std::to_string(record)) +
           ", \"field\": " + (field.empty() ? std::string("null") : jsonString(field)) +
           ", \"problem\": " + jsonString(problem) + ", \"action\": " + jsonString(action) + "}";
}

std::string jsonReportClosing(const RunTotals &totals) {
    std::string json = totals.findings != 0 ? std::string(lineEnd) + "  ]" : std::string("]");
    auto text = [](const std::string &value) {
        return value.empty() ? std::string("null") : jsonString(value);
    };
    auto count = [](std::uint64_t n) { return std::to_string(n); };
    json += member("result", text(totals.result));
    json += member("unreadable", text(totals.unreadable));
    json += member("kind", text(totals.kind));
    json += member("header", text(totals.header));
    json += member("fields", count(totals.fields));
    json += member("recordsRead", count(totals.read));
    json += member("recordsKept", count(totals.kept));
    json += member("recordsDropped", count(totals.read - totals.kept));
    std::string reasons = "{";
    for (const ReasonKey &reason : reasonKeys) {
        reasons += reasons.size() == 1 ? "" : ", ";
        reasons += std::string("\"") + reason.key +
                   "\": " + count(totals.dropped[static_cast<std::size_t>(reason.finding)]);
    }
    json += member("dropped", reasons + "}");
    json += member("misaligned", count(totals.misaligned));
    json += member("cutBySizeLimit", count(totals.cutBySizeLimit));
    json += member("memosCarried", count(totals.memosCarried));
    json += member("invalidMemoReferences", count(totals.invalidMemos));
    json += member("findingCount", count(totals.findings));
    json += member("verdict", text(totals.verdict));
    return json + lineEnd + "}" + lineEnd;
}

} // namespace salvora
