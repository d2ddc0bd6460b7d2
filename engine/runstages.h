// The stages a repair and a check share: the analysis of the source, the rules both apply to
// the analysed table (its memo flag, its size limit) and the walk over its records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>

#include "engine/analysis.h"
#include "engine/bufferedio.h"
#include "engine/duplicatecandidates.h"
#include "engine/realignment.h"
#include "engine/recordchecks.h"
#include "engine/recovery.h"
#include "engine/runreport.h"

namespace salvora {

struct AnalysedTable {
    AnalysisResult analysis;
    // Null for a table type the formats do not know.
    const char *typeName = nullptr;
};

AnalysedTable analyseTable(EngineContext &context, RecoveryJob &job, const std::string &source,
                           SourceAccess access, const TableTemplate *tableTemplate = nullptr);

// A Visual FoxPro table with memo fields has a memo file even when a damaged (or careless)
// header forgot to say so; without the flag the memos would be left behind.
std::uint8_t tableFlagsWithMemo(const RecoveryJob &job);

// Level 7 tables keep their memo file as it is: their references stay valid.
inline bool carriesMemos(std::uint8_t tableType) {
    return tableType != 0x8C;
}

// Where the records lie, as the analysis found them.
struct RecordArea {
    std::uint32_t records = 0;
    std::uint32_t recordLength = 0;
    std::uint32_t headerLength = 0;
    std::uint64_t base = 0;
};

RecordArea recordAreaOf(const RecoveryJob &job, const AnalysisResult &analysis);

// The formats cannot address records past 2 GiB.
std::uint64_t keptWithinSizeLimit(const RecoveryJob &job, const RecordArea &area,
                                  std::uint64_t kept);

// Bytes of records read, checked and handed on at a time.
inline constexpr std::size_t recordBatchBytes = 1u << 20;

// Walks the duplicate candidates alongside the records. The duplicate table's memory is the
// slow part of that filter: what a candidate some places ahead needs is on its way while the
// current record is checked.
class CandidateWalk {
  public:
    CandidateWalk(std::span<const DuplicateCandidates::Candidate> candidates,
                  const DuplicateTable &duplicates);

    // What is known of the key of `record`, the next record in order.
    RecordChecks::KeyAhead keyOf(std::uint32_t record) {
        if (next_ >= candidates_.size() || candidates_[next_].record != record)
            return {0, true};
        if (next_ + slotLookAhead < candidates_.size())
            duplicates_.prefetch(candidates_[next_ + slotLookAhead].hash);
        if (next_ + keyLookAhead < candidates_.size())
            duplicates_.prefetchKey(candidates_[next_ + keyLookAhead].hash);
        return {candidates_[next_++].hash, false};
    }

  private:
    // Candidates ahead at which the index slot, and then the key it leads to, is fetched.
    static constexpr std::size_t slotLookAhead = 8;
    static constexpr std::size_t keyLookAhead = 3;

    std::span<const DuplicateCandidates::Candidate> candidates_;
    const DuplicateTable &duplicates_;
    std::size_t next_ = 0;
};

// Every record at its fixed place, checked (and repaired where it was read); the records to
// be written go to a sink with `keep(record, index)`, and `endBatch()` follows each batch,
// whose bytes stay put until then.
class RecordWalk {
  public:
    RecordWalk(RecoveryJob &job, const RecordArea &area, const RecoveryRequest &request,
               RunObserver &observer);

    template <class Sink> std::uint64_t run(Sink &sink);

    // Records dropped because they touch a piece of the file that could not be read.
    std::uint64_t unreadableRecords() const { return unreadableRecords_; }
    const WindowReader &reader() const { return reader_; }

  private:
    RecordArea area_;
    bool keepDeleted_;
    RunReport *report_;
    RunObserver &observer_;
    std::size_t batchRecords_;
    WindowReader reader_;
    DuplicateTable duplicates_;
    RecordChecks checks_;
    std::optional<DuplicateCandidates> candidates_;
    std::optional<CandidateWalk> candidateWalk_;
    std::uint64_t unreadableRecords_ = 0;

    // Where the grid resumes when a record breaks it off the header's grid; none when it
    // holds (the record is only damaged) or resumes on it.
    std::optional<std::uint64_t> realign(std::uint64_t at);
    std::uint32_t misalignedBetween(std::uint64_t from, std::uint64_t to) const;

    RecoveryJob &job_;
    std::optional<GridSearch> grid_;
    // Records before this offset do not start a search: one already looked past them.
    std::uint64_t quietUntil_ = 0;
    bool shifted_ = false;
    std::uint64_t misaligned_ = 0;
};

template <class Sink> std::uint64_t RecordWalk::run(Sink &sink) {
    const std::uint32_t records = area_.records;
    const std::uint32_t recordLength = area_.recordLength;
    std::uint64_t kept = 0;
    std::uint64_t position = area_.base;
    std::uint64_t end = area_.base + std::uint64_t{records} * recordLength;
    std::uint32_t i = 0;
    while (recordLength != 0 && position + recordLength <= end) {
        const std::uint32_t count = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(batchRecords_, (end - position) / recordLength));
        std::uint8_t *batch = reader_.mutableView(position, std::size_t{count} * recordLength);
        std::uint32_t k = 0;
        for (; k < count; ++k, ++i) {
            std::span<std::uint8_t> record(batch + std::size_t{k} * recordLength, recordLength);
            const std::uint64_t at = position + std::uint64_t{k} * recordLength;
            if (!reader_.unreadable().empty() && reader_.touchesUnreadable(at, recordLength)) {
                ++unreadableRecords_;
                if (report_) {
                    report_->found(i, nullptr, Finding::UnreadableRecord, {}, 0);
                    report_->recordDone(i, RecordVerdict::Reject, false);
                }
                continue;
            }
            const bool flagOffGrid = record[0] != ' ' && record[0] != '*';
            RecordVerdict verdict = candidateWalk_ && !shifted_
                                        ? checks_.check(record, i, candidateWalk_->keyOf(i))
                                        : checks_.check(record, i);
            if ((flagOffGrid || verdict == RecordVerdict::Reject) && at >= quietUntil_) {
                if (std::optional<std::uint64_t> resume = realign(at)) {
                    const std::uint32_t dropped = misalignedBetween(at, *resume);
                    if (report_)
                        report_->misaligned(at, *resume, dropped);
                    misaligned_ += dropped;
                    i += dropped;
                    shifted_ = true;
                    position = *resume;
                    end = position + (reader_.fileSize() - position) / recordLength * recordLength;
                    break;
                }
            }
            if (verdict == RecordVerdict::DroppedByFilter) {
                if (report_)
                    report_->recordDone(i, verdict, false);
                continue;
            }
            bool written = verdict == RecordVerdict::Keep && (keepDeleted_ || record[0] != '*');
            if (written) {
                sink.keep(record, i);
                ++kept;
            }
            if (report_)
                report_->recordDone(i, verdict, written);
            if (i % 100 == 0 || (i & 0xFFF) == 0)
                observer_.recordReached(std::min(i, records), records);
        }
        sink.endBatch();
        if (k == count)
            position += std::uint64_t{count} * recordLength;
        if (observer_.cancelled())
            break;
    }
    observer_.walkEnded(records);
    return kept;
}

} // namespace salvora
