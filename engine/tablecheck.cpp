#include "engine/tablecheck.h"

#include "engine/memoreferences.h"
#include "engine/memotransfer.h"
#include "engine/pairjournal.h"
#include "engine/runstages.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

// Closes the source however the check ends.
struct OpenSource {
    RecoveryJob &job;
    ~OpenSource() {
        job.sourceMemo.reset();
        closeSource(job);
    }
};

// What the repair would carry, looked at where it lies.
class MemoInspector {
  public:
    MemoInspector(const RecoveryJob &job, RunReport &report, bool carries)
        : job_(job), report_(report), carries_(carries) {}

    void keep(std::span<std::uint8_t> record, std::uint32_t index) {
        if (carries_)
            inspectMemos(record, job_, *job_.sourceMemo, report_, index);
    }
    void endBatch() {}

  private:
    const RecoveryJob &job_;
    RunReport &report_;
    bool carries_;
};

} // namespace

CheckVerdict checkTable(EngineContext &context, const RecoveryRequest &request, RunReport &report,
                        RunObserver &observer) {
    platform::Platform &os = context.os;
    RecoveryJob job;
    OpenSource open{job};
    AnalysedTable table = analyseTable(context, job, request.source, SourceAccess::ReadOnly);
    const AnalysisResult &analysis = table.analysis;
    if (!analysis.opened) {
        report.unreadable(os.errorText(analysis.openError));
        return CheckVerdict::Unreadable;
    }
    if (!analysis.unreadableHeader.empty()) {
        for (const UnreadableRanges::Range &range : analysis.unreadableHeader.ranges())
            report.unreadableBytes(job.sourcePath, range.start, range.end);
        report.unreadable("read errors at " + unreadableText(analysis.unreadableHeader) +
                          ": the header cannot be read");
        return CheckVerdict::Unreadable;
    }
    if (analysis.abort) {
        report.unreadable("no table header and no field descriptors found");
        return CheckVerdict::Unreadable;
    }
    const TableHeader &header = job.header;
    if (!table.typeName) {
        report.unreadable(formatText("unknown table type %d", header.type()));
        return CheckVerdict::Unreadable;
    }
    report.table(job, analysis, table.typeName);
    JournalOutcome journal = settleJournal(os, os.resolvedPath(request.source), true);
    if (journal.state != JournalState::None)
        report.interruptedReplacement(journal.line, journal.state == JournalState::Unfinished);

    // The memo side as the repair sees it, read-only.
    std::uint8_t flags = tableFlagsWithMemo(job);
    bool carries = false;
    if (tableHasMemo(header.type(), flags)) {
        MemoTableInfo memoTable{header.type(), flags, job.sourcePath};
        job.sourceMemo = openMemo(os, job.memoName, header.type(), false, false, memoTable);
        carries = carriesMemos(header.type());
        if (memoHeaderUnreadable(*job.sourceMemo)) {
            const MemoFile &memo = *job.sourceMemo;
            for (const UnreadableRanges::Range &range : memo.unreadable.ranges())
                report.unreadableBytes(memo.path, range.start, range.end);
            report.unreadable("read errors at " + unreadableText(memo.unreadable) + " of " +
                              memo.path + ": its header cannot be read");
            return CheckVerdict::Unreadable;
        }
    }

    RecoveryRequest walked = request;
    walked.report = &report;
    walked.keepDeleted = true;
    const RecordArea area = recordAreaOf(job, analysis);
    collectMemoReferences(job, area);
    RecordWalk walk(job, area, walked, observer);
    MemoInspector inspector(job, report, carries);
    report.finish(keptWithinSizeLimit(job, area, walk.run(inspector)));
    // What could not be read is no damage a repair mends: the table cannot be read whole.
    std::string why;
    auto note = [&](const std::string &file, const UnreadableRanges &ranges, bool named) {
        if (ranges.empty())
            return;
        for (const UnreadableRanges::Range &range : ranges.ranges())
            report.unreadableBytes(file, range.start, range.end);
        why += (why.empty() ? "read errors at " : "; ") + unreadableText(ranges) +
               (named ? " of " + file : std::string());
    };
    note(job.sourcePath, walk.reader().unreadableRanges(), false);
    if (job.sourceMemo)
        note(job.sourceMemo->path, job.sourceMemo->unreadable, true);
    if (!why.empty()) {
        report.unreadable(why);
        return CheckVerdict::Unreadable;
    }
    return report.needsRepair() ? CheckVerdict::NeedsRepair : CheckVerdict::Sound;
}

} // namespace salvora
