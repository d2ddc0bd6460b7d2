#include "app/windowresults.h"

#include "app/language.h"
#include "engine/textformat.h"
#include "resources/resource.h"

namespace salvora {

namespace {

constexpr const char *lineEnd = "\r\n";

// The reasons by their string ids, in the order of the check's summary.
struct Reason {
    Finding finding;
    int text;
};
constexpr Reason findingReasons[] = {
    {Finding::DroppedByPack, IDS_DROPPED_BY_PACK},
    {Finding::DroppedEmpty, IDS_DROPPED_BY_PACK + 1},
    {Finding::Duplicate, IDS_DROPPED_BY_PACK + 2},
    {Finding::InvalidMemoDropped, IDS_DROPPED_BY_PACK + 3},
    {Finding::BadDateTime, IDS_DROPPED_BY_PACK + 4},
    {Finding::BadDate, IDS_DROPPED_BY_PACK + 5},
    {Finding::BadNumber, IDS_DROPPED_BY_PACK + 6},
    {Finding::DeletedNotKept, IDS_DROPPED_BY_PACK + 7},
    {Finding::ZeroedRecord, IDS_DROPPED_AS_ZEROED},
    {Finding::UnreadableRecord, IDS_DROPPED_AS_UNREADABLE},
};
constexpr int misalignedText = IDS_DROPPED_BY_PACK + 8;
constexpr int sizeLimitText = IDS_DROPPED_BY_PACK + 9;

std::string line(AppContext &app, int id, std::uint64_t count) {
    return formatText(loadString(app, id), std::to_string(count)) + lineEnd;
}

} // namespace

std::string runCountsText(AppContext &app, const RunTotals &totals, bool referencesCleared,
                          const std::string &output) {
    std::string text = line(app, IDS_RECORDS_READ, totals.read);
    text += line(app, IDS_RECORDS_KEPT, totals.kept);
    text += line(app, IDS_RECORDS_DROPPED, totals.read - totals.kept);
    for (const Reason &reason : findingReasons)
        if (std::uint64_t n = totals.dropped[static_cast<std::size_t>(reason.finding)]; n != 0)
            text += line(app, reason.text, n);
    if (totals.misaligned != 0)
        text += line(app, misalignedText, totals.misaligned);
    if (totals.cutBySizeLimit != 0)
        text += line(app, sizeLimitText, totals.cutBySizeLimit);
    text += line(app, IDS_MEMOS_CARRIED, totals.memosCarried);
    text += line(app, IDS_MEMO_REFERENCES_CLEARED, referencesCleared ? totals.invalidMemos : 0);
    if (!output.empty())
        text += formatText(loadString(app, IDS_OUTPUT_NAME), output) + lineEnd;
    return text;
}

std::string checkResultsText(AppContext &app, CheckVerdict verdict, const RunTotals &totals,
                             bool referencesCleared, const std::string &findings,
                             std::uint64_t moreFindings) {
    std::string text = loadString(app, IDS_CHECK_HEADING) + lineEnd;
    switch (verdict) {
    case CheckVerdict::Sound:
        text += loadString(app, IDS_VERDICT_SOUND) + lineEnd;
        break;
    case CheckVerdict::NeedsRepair:
        text += loadString(app, IDS_VERDICT_NEEDS_REPAIR) + lineEnd;
        break;
    case CheckVerdict::Unreadable:
        return text + formatText(loadString(app, IDS_VERDICT_UNREADABLE), totals.unreadable) +
               lineEnd;
    }
    text += runCountsText(app, totals, referencesCleared, std::string());
    text += line(app, IDS_FINDINGS, totals.findings);
    text += findings;
    if (moreFindings != 0)
        text += line(app, IDS_MORE_FINDINGS, moreFindings);
    return text;
}

} // namespace salvora
