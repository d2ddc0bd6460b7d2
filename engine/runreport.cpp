#include "engine/runreport.h"

#include <cstdio>

#include "engine/memotransfer.h"
#include "engine/reportjson.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

std::string number(std::uint64_t n) {
    return std::to_string(n);
}

struct DropReason {
    Finding finding;
    const char *item;
};

// Summary items of the reasons, in the order the checks apply them.
constexpr DropReason dropReasons[] = {
    {Finding::DroppedByPack, "Dropped by /pack"},
    {Finding::DroppedEmpty, "Dropped by /delempty"},
    {Finding::Duplicate, "Dropped by /deldups"},
    {Finding::InvalidMemoDropped, "Dropped for an invalid memo reference"},
    {Finding::BadDateTime, "Dropped by the date-time test"},
    {Finding::BadDate, "Dropped by the date test"},
    {Finding::BadNumber, "Dropped by the numeric test"},
    {Finding::DeletedNotKept, "Dropped as deleted"},
    {Finding::ZeroedRecord, "Dropped as zeroed"},
};

bool hasMemoBearingField(const RecoveryJob &job) {
    for (const FieldDescriptor &field : job.fields)
        if (isMemoBearingField(field.type()))
            return true;
    return false;
}

} // namespace

RunReport::RunReport(std::string tableName, ReportFormat format, TextSink *lines, bool checkOnly)
    : tableName_(std::move(tableName)), format_(format), lines_(lines), checkOnly_(checkOnly) {
    write(format_ == ReportFormat::Json ? jsonReportOpening(tableName_, checkOnly_)
                                        : reportHeaderLine(format_));
}

void RunReport::write(const std::string &text) {
    if (lines_ && !text.empty())
        lines_->write(text);
}

void RunReport::writeFinding(std::uint64_t record, std::string_view field, std::string_view problem,
                             std::string_view action) {
    if (plainLines_)
        plainLines_->write(findingLine(ReportFormat::Text, record, field, problem, action));
    if (format_ == ReportFormat::Json)
        write(jsonFinding(findings_ == 1, record, field, problem, action));
    else
        write(findingLine(format_, record, field, problem, action));
}

void RunReport::tableFinding(const std::string &problem, const std::string &action) {
    ++findings_;
    writeFinding(0, {}, problem, action);
}

void RunReport::table(const RecoveryJob &job, const AnalysisResult &analysis,
                      const char *typeName) {
    analysed_ = true;
    const TableHeader &header = job.header;
    char type[8];
    std::snprintf(type, sizeof type, "0x%02X", header.type());
    typeName_ = std::string(typeName) + " (" + type + ")";
    fields_ = job.fieldCount;

    if (analysis.relocated) {
        header_ = "rebuilt";
        tableFinding("header and field list missing or damaged",
                     formatText("rebuilt from the %d field descriptors found", job.fieldCount));
    } else if (analysis.headerOffset != 0) {
        header_ = formatText("found at offset %d", analysis.headerOffset);
        tableFinding(
            formatText("header found at offset %d, after damaged bytes", analysis.headerOffset),
            "moved to the start of the file");
    } else if (!analysis.repairedDescriptors.empty()) {
        header_ = "sound, a field descriptor rebuilt";
    } else {
        header_ = "sound";
    }
    for (std::uint32_t i : analysis.repairedDescriptors) {
        const FieldDescriptor &field = job.fields[i];
        tableFinding(formatText("field descriptor %d lost", static_cast<std::int64_t>(i) + 1),
                     formatText("rebuilt as %s, type %s, width %d, from the header's record length",
                                field.name(), std::string(1, field.type()),
                                static_cast<std::int64_t>(fieldLength(field))));
    }
    if (analysis.relocated && analysis.codePageLost)
        tableFinding("code page mark lost with the header",
                     "left 0: set the code page in the program that reads the table");
    if (!analysis.relocated && analysis.storedRecordCount != header.recordCount())
        tableFinding(formatText("header says %d records, the file holds %d",
                                analysis.storedRecordCount, header.recordCount()),
                     "record count set to the records kept");
    if (!analysis.relocated && (header.year() == 0 || header.month() == 0 || header.day() == 0))
        tableFinding("last-update date missing", "set to today");
    if (isVisualFoxProType(header.type()) && hasMemoBearingField(job) &&
        (header.tableFlags() & tableFlagHasMemo) == 0)
        tableFinding("header does not say that the table has a memo file", "memo flag set");
}

void RunReport::interruptedReplacement(const std::string &what, bool settles) {
    tableFinding(what, settles ? "the next repair completes or undoes it"
                               : "left alone: the files must be put right by hand");
}

void RunReport::unreadable(const std::string &why) {
    unreadable_ = why.empty() ? std::string("unknown reason") : why;
}

void RunReport::found(std::uint32_t index, const FieldDescriptor *field, Finding finding,
                      std::span<const std::uint8_t> value, std::uint32_t number) {
    ++findings_;
    if (finding == Finding::InvalidMemoCleared || finding == Finding::InvalidMemoDropped)
        ++invalidMemos_;
    if (dropsRecord(finding) && !(dropKnown_ && dropIndex_ == index)) {
        dropKnown_ = true;
        dropIndex_ = index;
        dropReason_ = finding;
    }
    if (!lines_ && !plainLines_)
        return;
    writeFinding(std::uint64_t{index} + 1, field ? field->name() : std::string(),
                 findingProblem(finding, value, number), findingAction(finding));
}

void RunReport::recordDone(std::uint32_t index, RecordVerdict verdict, bool written) {
    ++read_;
    if (written) {
        ++kept_;
        return;
    }
    if (verdict == RecordVerdict::Keep)
        found(index, nullptr, Finding::DeletedNotKept, {}, 0);
    if (dropKnown_ && dropIndex_ == index)
        ++dropped_[static_cast<std::size_t>(dropReason_)];
}

void RunReport::misaligned(std::uint64_t from, std::uint64_t to, std::uint32_t records) {
    misaligned_ += records;
    read_ += records;
    ++findings_;
    writeFinding(0, {},
                 "record grid broken at bytes " + number(from) + "-" + number(to - 1) +
                     ": bytes inserted or lost",
                 formatText("%d records dropped as misaligned; the grid resumes at byte ",
                            static_cast<std::int64_t>(records)) +
                     number(to));
}

void RunReport::finish(std::uint64_t kept) {
    if (kept < kept_) {
        cutBySizeLimit_ = kept_ - kept;
        kept_ = kept;
    }
}

std::string RunReport::summaryIn(ReportFormat format) const {
    std::string text;
    auto item = [&](const char *name, const std::string &value) {
        text += summaryLine(format, name, value);
    };
    item("Table", tableName_);
    item("Mode", checkOnly_ ? "check only, nothing written" : "repair");
    if (!result_.empty())
        item("Result", result_);
    if (!unreadable_.empty()) {
        item("Cannot be read", unreadable_);
        if (checkOnly_)
            item("Verdict", "cannot be read");
        return text;
    }
    if (!analysed_)
        return text;
    item("Table kind", typeName_);
    item("Header", header_);
    item("Fields", number(static_cast<std::uint64_t>(fields_)));
    item("Records read", number(read_));
    item("Records kept", number(kept_));
    item("Records dropped", number(read_ - kept_));
    for (const DropReason &reason : dropReasons)
        if (std::uint64_t n = dropped_[static_cast<std::size_t>(reason.finding)]; n != 0)
            item(reason.item, number(n));
    if (misaligned_ != 0)
        item("Dropped as misaligned", number(misaligned_));
    if (cutBySizeLimit_ != 0)
        item("Cut by the 2 GiB limit", number(cutBySizeLimit_));
    item("Memos carried", number(memosCarried_));
    item("Invalid memo references", number(invalidMemos_));
    item("Findings", number(findings_));
    if (checkOnly_)
        item("Verdict", needsRepair() ? "needs repair" : "no repair needed");
    return text;
}

RunTotals RunReport::totals() const {
    RunTotals totals;
    totals.result = result_;
    totals.unreadable = unreadable_;
    if (analysed_ && unreadable_.empty()) {
        totals.kind = typeName_;
        totals.header = header_;
        totals.fields = static_cast<std::uint64_t>(fields_);
    }
    totals.read = read_;
    totals.kept = kept_;
    totals.dropped = dropped_;
    totals.cutBySizeLimit = cutBySizeLimit_;
    totals.misaligned = misaligned_;
    totals.memosCarried = memosCarried_;
    totals.invalidMemos = invalidMemos_;
    totals.findings = findings_;
    if (checkOnly_)
        totals.verdict = !unreadable_.empty() ? "cannot be read"
                         : needsRepair()      ? "needs repair"
                                              : "no repair needed";
    return totals;
}

void RunReport::close() {
    if (format_ == ReportFormat::Json) {
        write(jsonReportClosing(totals()));
        return;
    }
    // A blank line sets the summary off from the findings in plain text.
    if (format_ == ReportFormat::Text && findings_ != 0)
        write("\r\n");
    write(summary());
}

} // namespace salvora
