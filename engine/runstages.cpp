#include "engine/runstages.h"

#include "engine/memotransfer.h"
#include "platform/largememory.h"

namespace salvora {

namespace {

constexpr std::uint64_t tableSizeLimit = 0x7FFFFFFF;

bool hasMemoBearingField(const RecoveryJob &job) {
    for (const FieldDescriptor &field : job.fields)
        if (isMemoBearingField(field.type()))
            return true;
    return false;
}

// Which records can be duplicates, or be repeated by one, worked out in a first pass over the
// table that hashes every key. Nothing when the memory for it is not to be had.
std::optional<DuplicateCandidates> findDuplicateCandidates(WindowReader &reader, std::uint64_t base,
                                                           std::uint32_t records,
                                                           std::uint32_t recordLength,
                                                           std::size_t batchRecords) {
    std::size_t bytes = std::size_t{records} * sizeof(std::uint32_t);
    platform::LargeMemory memory(bytes, bytes >= (2u << 20));
    if (!memory)
        return std::nullopt;
    auto *hashes = reinterpret_cast<std::uint32_t *>(memory.data());
    for (std::uint32_t first = 0; first < records;) {
        const std::uint32_t count =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(batchRecords, records - first));
        const std::uint8_t *batch = reader.view(base + std::uint64_t{first} * recordLength,
                                                std::size_t{count} * recordLength);
        DuplicateTable::hashEach(batch + 1, recordLength, recordLength - std::size_t{1},
                                 {hashes + first, count});
        first += count;
    }
    return DuplicateCandidates::of({hashes, records});
}

std::size_t batchRecordsFor(std::uint32_t recordLength) {
    return std::max<std::size_t>(1, recordBatchBytes / std::max<std::uint32_t>(recordLength, 1));
}

} // namespace

AnalysedTable analyseTable(EngineContext &context, RecoveryJob &job, const std::string &source,
                           SourceAccess access, const TableTemplate *tableTemplate) {
    job.sourcePath = source;
    job.memoName = source;
    AnalysedTable table;
    table.analysis = analyseStructure(context, job, access, tableTemplate);
    if (table.analysis.opened && !table.analysis.abort)
        table.typeName = tableTypeName(job.header.type());
    return table;
}

std::uint8_t tableFlagsWithMemo(const RecoveryJob &job) {
    std::uint8_t flags = job.header.tableFlags();
    if (isVisualFoxProType(job.header.type()) && hasMemoBearingField(job))
        flags |= tableFlagHasMemo;
    return flags;
}

RecordArea recordAreaOf(const RecoveryJob &job, const AnalysisResult &analysis) {
    RecordArea area;
    area.records = job.header.recordCount();
    area.recordLength = job.header.recordLength();
    area.headerLength = job.header.headerLength();
    area.base = analysis.relocated ? job.dataStart : analysis.headerOffset + area.headerLength;
    return area;
}

std::uint64_t keptWithinSizeLimit(const RecoveryJob &job, const RecordArea &area,
                                  std::uint64_t kept) {
    if (job.sourceSize > tableSizeLimit && area.headerLength < tableSizeLimit)
        return std::min<std::uint64_t>(kept, (tableSizeLimit - 1 - area.headerLength) /
                                                 area.recordLength);
    return kept;
}

CandidateWalk::CandidateWalk(std::span<const DuplicateCandidates::Candidate> candidates,
                             const DuplicateTable &duplicates)
    : candidates_(candidates), duplicates_(duplicates) {
    for (std::size_t c = 0; c < candidates_.size() && c < slotLookAhead; ++c)
        duplicates_.prefetch(candidates_[c].hash);
}

// Records are checked and repaired where they were read, and kept ones go out from there.
// Batches of a megabyte cost the fewest system calls without losing the cache.
RecordWalk::RecordWalk(RecoveryJob &job, const RecordArea &area, const RecoveryRequest &request,
                       RunObserver &observer)
    : area_(area), keepDeleted_(request.keepDeleted), report_(request.report), observer_(observer),
      batchRecords_(batchRecordsFor(area.recordLength)),
      reader_(*job.source, job.sourceSize,
              std::max<std::size_t>(batchRecords_ * area.recordLength, 1)),
      checks_(job, request.options, duplicates_, request.report, area.recordLength), job_(job) {
    // Only candidates can be duplicates or be repeated by one; the others' keys are unique.
    // Keys shorter than a few hashes are cheaper to look up than to hash twice.
    if (request.options.deleteDuplicates != 0 && area.recordLength > 8 && area.records > 0)
        candidates_ = findDuplicateCandidates(reader_, area.base, area.records, area.recordLength,
                                              batchRecords_);
    if (candidates_)
        candidateWalk_.emplace(candidates_->all(), duplicates_);
}

std::optional<std::uint64_t> RecordWalk::realign(std::uint64_t at) {
    const std::uint32_t recordLength = area_.recordLength;
    if (!grid_)
        grid_.emplace(*job_.source, job_.sourceSize, job_, area_.base, recordLength);
    if (grid_->gridHolds(at + recordLength))
        return std::nullopt;
    std::optional<std::uint64_t> resume = grid_->resumeAfter(at);
    if (!resume) {
        quietUntil_ = job_.sourceSize;
        return std::nullopt;
    }
    if ((*resume - at) % recordLength == 0) {
        quietUntil_ = *resume;
        return std::nullopt;
    }
    return resume;
}

// The record the damage cut, and as many more as the inserted bytes would have held.
std::uint32_t RecordWalk::misalignedBetween(std::uint64_t from, std::uint64_t to) const {
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (to - from) / area_.recordLength));
}

} // namespace salvora
