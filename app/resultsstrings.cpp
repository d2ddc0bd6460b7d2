#include "app/strings.h"

#include "resources/resource.h"

namespace salvora {

std::string builtInResultsString(int id) {
    switch (id) {
    case IDS_CHECK_CAPTION:
        return "&Check";
    case IDS_RECORDS_READ:
        return "Records read: %s";
    case IDS_RECORDS_KEPT:
        return "Records kept: %s";
    case IDS_RECORDS_DROPPED:
        return "Records dropped: %s";
    case IDS_MEMOS_CARRIED:
        return "Memos carried: %s";
    case IDS_MEMO_REFERENCES_CLEARED:
        return "Memo references cleared: %s";
    case IDS_OUTPUT_NAME:
        return "Output: %s";
    case IDS_FINDINGS:
        return "Findings: %s";
    case IDS_MORE_FINDINGS:
        return "... and %s more findings";
    case IDS_DROPPED_BY_PACK + 0:
        return "  marked as deleted (Pack): %s";
    case IDS_DROPPED_BY_PACK + 1:
        return "  empty (Delete Empty Records): %s";
    case IDS_DROPPED_BY_PACK + 2:
        return "  duplicates (Delete Duplicates): %s";
    case IDS_DROPPED_BY_PACK + 3:
        return "  invalid memo reference: %s";
    case IDS_DROPPED_BY_PACK + 4:
        return "  bad date-time: %s";
    case IDS_DROPPED_BY_PACK + 5:
        return "  bad date: %s";
    case IDS_DROPPED_BY_PACK + 6:
        return "  bad number: %s";
    case IDS_DROPPED_BY_PACK + 7:
        return "  marked as deleted: %s";
    case IDS_DROPPED_BY_PACK + 8:
        return "  misaligned: %s";
    case IDS_DROPPED_BY_PACK + 9:
        return "  beyond the 2 GiB limit: %s";
    case IDS_CHECK_HEADING:
        return "Check only: nothing was written.";
    case IDS_VERDICT_SOUND:
        return "No repair needed.";
    case IDS_VERDICT_NEEDS_REPAIR:
        return "The table needs a repair.";
    case IDS_VERDICT_UNREADABLE:
        return "The table cannot be read: %s";
    case IDS_REPORT_WRITTEN:
        return "Report: %s";
    case IDS_REPORT_FAILED:
        return "Report not written: %s";
    case IDS_REPORT_FILTER:
        return "Reports (*.csv;*.txt;*.json)";
    case IDS_REPORT_SINGLE_TABLE:
        return "A report is written for a single table only.";
    case IDS_SKIPPED_SECOND_NAME:
        return "Skipped: same table as %s";
    case IDS_FOLDER_CANCELLED:
        return "Cancelled: %d of %d tables done; the tables done stay repaired.";
    case IDS_TABLE_CANCELLED:
        return "Cancelled, left as it was";
    default:
        return {};
    }
}

} // namespace salvora
