#include "engine/tablecheck.h"

#include <algorithm>
#include <cstring>

#include "engine/analysis.h"
#include "engine/bufferedio.h"
#include "engine/memotransfer.h"
#include "engine/recordchecks.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

constexpr std::uint64_t tableSizeLimit = 0x7FFFFFFF;
constexpr std::size_t recordWindowSize = 1u << 20;

bool hasMemoBearingField(const RecoveryJob &job) {
    for (const FieldDescriptor &field : job.fields)
        if (isMemoBearingField(field.type()))
            return true;
    return false;
}

// Closes the source however the check ends.
struct OpenSource {
    RecoveryJob &job;
    ~OpenSource() {
        job.sourceMemo.reset();
        closeSource(job);
    }
};

} // namespace

CheckVerdict checkTable(EngineContext &context, const std::string &sourcePath, RunReport &report) {
    platform::Platform &os = context.os;
    RecoveryJob job;
    job.sourcePath = sourcePath;
    job.memoName = sourcePath;
    OpenSource open{job};
    AnalysisResult analysis = analyseStructure(context, job, SourceAccess::ReadOnly);
    if (!analysis.opened) {
        report.unreadable(os.errorText(analysis.openError));
        return CheckVerdict::Unreadable;
    }
    if (analysis.abort) {
        report.unreadable("no table header and no field descriptors found");
        return CheckVerdict::Unreadable;
    }
    TableHeader &header = job.header;
    const char *typeName = tableTypeName(header.type());
    if (!typeName) {
        report.unreadable(formatText("unknown table type %d", header.type()));
        return CheckVerdict::Unreadable;
    }
    report.table(job, analysis, typeName);

    // The memo side as the repair sees it, read-only: the repair sets a forgotten memo flag
    // first, and carries memos except for level 7 tables.
    std::uint8_t flags = header.tableFlags();
    if (isVisualFoxProType(header.type()) && hasMemoBearingField(job))
        flags |= tableFlagHasMemo;
    bool carries = false;
    if (tableHasMemo(header.type(), flags)) {
        MemoTableInfo table{header.type(), flags, job.sourcePath};
        job.sourceMemo = openMemo(os, job.memoName, header.type(), false, false, table);
        carries = header.type() != 0x8C;
    }

    const std::uint32_t records = header.recordCount();
    const std::uint32_t recordLength = header.recordLength();
    const std::uint64_t headerLength = header.headerLength();
    std::uint64_t base = analysis.relocated ? job.dataStart : analysis.headerOffset + headerLength;
    WindowReader reader(*job.source, job.sourceSize,
                        std::max<std::size_t>(recordWindowSize, recordLength));
    std::span<std::uint8_t> record(job.recordBuffer.data(), recordLength);
    DuplicateTable duplicates;
    RecordChecks checks(job, context.options, duplicates, &report, recordLength);
    std::uint64_t kept = 0;
    for (std::uint32_t i = 0; i < records; ++i) {
        std::memcpy(record.data(),
                    reader.view(base + std::uint64_t{i} * recordLength, recordLength),
                    recordLength);
        RecordVerdict verdict = checks.check(record, i);
        // Without a window deleted records are kept, as in a repair from the command line.
        bool written = verdict == RecordVerdict::Keep;
        if (written) {
            if (carries)
                inspectMemos(record, job, *job.sourceMemo, report, i);
            ++kept;
        }
        report.recordDone(i, verdict, written);
        if (context.progress && (i & 0xFFF) == 0)
            context.progress->recordsDone(i, records);
    }
    if (context.progress)
        context.progress->recordsDone(records, records);

    if (job.sourceSize > tableSizeLimit && headerLength < tableSizeLimit)
        kept = std::min<std::uint64_t>(kept, (tableSizeLimit - 1 - headerLength) / recordLength);
    report.finish(kept);
    return report.needsRepair() ? CheckVerdict::NeedsRepair : CheckVerdict::Sound;
}

} // namespace salvora
