#include "engine/recordchecks.h"

#include <algorithm>

#include "engine/fieldchecks.h"
#include "engine/fieldwords.h"

namespace salvora {

namespace {

constexpr std::uint8_t deletedFlag = '*';
constexpr std::uint8_t liveFlag = ' ';

bool isEmpty(std::span<const std::uint8_t> values) {
    return std::all_of(values.begin(), values.end(),
                       [](std::uint8_t b) { return (b | 0x20) == 0x20; });
}

// The bytes of [offset, offset + length) that lie inside the record, for a finding.
std::span<const std::uint8_t> found(std::span<const std::uint8_t> record, std::size_t offset,
                                    std::size_t length) {
    if (offset >= record.size())
        return {};
    return record.subspan(offset, std::min(length, record.size() - offset));
}

// The memo file the references are judged against. Without one there is nothing to judge,
// as every reference is cleared when the memos are carried; but level 7 tables of type 0x8C
// keep their memo file and references as they are, so a missing file must be judged here.
MemoFile *memoToJudge(const RecoveryJob &job) {
    if (!job.sourceMemo)
        return nullptr;
    if (job.sourceMemo->isOpen() || job.header.type() == 0x8C)
        return job.sourceMemo.get();
    return nullptr;
}

} // namespace

RecordChecks::RecordChecks(const RecoveryJob &job, const RecoveryOptions &options,
                           DuplicateTable &duplicates, FindingSink *why, std::size_t recordLength)
    : job_(job), options_(options), duplicates_(duplicates), why_(why), memo_(memoToJudge(job)),
      tableType_(job.header.type()) {
    plan(recordLength);
}

// A field that lies (partly) outside the record is judged by the bytes it has inside; a test
// that then has nothing to judge is left out, as it would pass every record.
void RecordChecks::plan(std::size_t recordLength) {
    recordLength_ = recordLength;
    steps_.clear();
    for (const FieldDescriptor &field : job_.fields) {
        std::size_t offset = field.displacement();
        std::size_t inside = offset < recordLength ? recordLength - offset : 0;
        auto add = [&](Test test, std::size_t length) {
            steps_.push_back({test, static_cast<std::uint32_t>(offset),
                              static_cast<std::uint32_t>(length), &field});
        };
        switch (field.type()) {
        case 'M':
            if (memo_)
                add(Test::Memo, 0);
            break;
        case 'G':
        case 'P':
        case 'W':
            // No memo transfer clears these for a table that keeps its memo file.
            if (memo_ && tableType_ == 0x8C)
                add(Test::Memo, 0);
            break;
        case 'L':
            if (inside > 0)
                add(Test::Logical, 1);
            break;
        case 'T':
            if (inside >= 4)
                add(Test::DateTime, 4);
            break;
        case 'D':
            if (inside >= 8)
                add(Test::DateWord, 8);
            else if (inside > 0)
                add(Test::DateCut, 8);
            break;
        case 'N':
        case 'F':
            if (std::size_t length = std::min<std::size_t>(fieldLength(field), inside))
                add(inside >= fieldwords::laneRoom(length) ? Test::NumberLanes : Test::NumberWords,
                    length);
            break;
        default:
            // General and picture fields refer to memo blocks too, but are left as they are.
            break;
        }
    }
    firstFieldTested_ = !steps_.empty() && steps_.front().field == &job_.fields.front();
}

bool RecordChecks::passes(const Step &step, std::span<std::uint8_t> record, std::uint32_t index) {
    const FieldDescriptor &field = *step.field;
    // A memo reference may start past the record's end; every other step starts inside it.
    std::uint8_t *at = step.test == Test::Memo ? nullptr : record.data() + step.offset;
    bool passes = true;
    Finding finding = Finding::BadNumber;
    switch (step.test) {
    case Test::Memo: {
        std::uint32_t block = why_ ? getMemoBlockNumber(record, field) : 0;
        if (!clearInvalidMemoReference(record, field, *memo_, tableType_))
            return true;
        bool drop = options_.deleteInvalidMemo != 0;
        if (why_)
            why_->found(index, &field,
                        drop ? Finding::InvalidMemoDropped : Finding::InvalidMemoCleared, {},
                        block);
        return !drop;
    }
    case Test::Logical:
        if (!isLogicalValue(*at)) {
            if (why_)
                why_->found(index, &field, Finding::LogicalRepaired, {at, 1}, 0);
            *at = ' ';
        }
        return true;
    case Test::DateTime:
        passes = isValidDayWord(readLe32(at), tableType_);
        finding = Finding::BadDateTime;
        break;
    case Test::DateWord:
        passes = fieldwords::isValidDateWord(fieldwords::loadWord(at));
        finding = Finding::BadDate;
        break;
    case Test::DateCut:
        passes = isValidDate(record, step.offset);
        finding = Finding::BadDate;
        break;
    case Test::NumberLanes:
        passes = fieldwords::isValidNumberLanes(at, step.length) ||
                 isWriterNumber(record, step.offset, step.length);
        break;
    case Test::NumberWords:
        passes = fieldwords::isValidNumberWords(at, step.length, record.size() - step.offset) ||
                 isWriterNumber(record, step.offset, step.length);
        break;
    }
    if (!passes && why_) {
        bool number = step.test == Test::NumberLanes || step.test == Test::NumberWords;
        std::size_t shown = number ? fieldLength(field) : step.length;
        why_->found(index, &field, finding, found(record, step.offset, shown), 0);
    }
    return passes;
}

// The tests every record of a sound table passes, without a sink to tell: kept apart from the
// rest so that they cost a few instructions a field.
inline bool RecordChecks::allPass(std::span<std::uint8_t> record, std::uint32_t index) {
    for (const Step &step : steps_) {
        std::uint8_t *at = record.data() + step.offset;
        switch (step.test) {
        case Test::Logical:
            if (!isLogicalValue(*at))
                *at = ' ';
            break;
        case Test::DateWord:
            if (!fieldwords::isValidDateWord(fieldwords::loadWord(at)))
                return false;
            break;
        case Test::NumberLanes:
            if (!fieldwords::isValidNumberLanes(at, step.length) &&
                !isWriterNumber(record, step.offset, step.length))
                return false;
            break;
        case Test::NumberWords:
            if (!fieldwords::isValidNumberWords(at, step.length, record.size() - step.offset) &&
                !isWriterNumber(record, step.offset, step.length))
                return false;
            break;
        default:
            if (!passes(step, record, index))
                return false;
            break;
        }
    }
    return true;
}

RecordVerdict RecordChecks::decide(std::span<std::uint8_t> record, std::uint32_t index,
                                   const KeyAhead *key) {
    // Without even a deletion flag there is nothing to test; such a record is empty.
    if (record.empty()) {
        if (!options_.deleteEmpty)
            return RecordVerdict::Keep;
        if (why_)
            why_->found(index, nullptr, Finding::DroppedEmpty, {}, 0);
        return RecordVerdict::DroppedByFilter;
    }
    if (record.size() != recordLength_)
        plan(record.size());
    std::uint8_t &flag = record[0];
    std::span<std::uint8_t> values = record.subspan(1);

    if (options_.pack && flag == deletedFlag) {
        if (why_)
            why_->found(index, nullptr, Finding::DroppedByPack, {}, 0);
        return RecordVerdict::DroppedByFilter;
    }
    if (options_.deleteEmpty && isEmpty(values)) {
        if (why_)
            why_->found(index, nullptr, Finding::DroppedEmpty, {}, 0);
        return RecordVerdict::DroppedByFilter;
    }
    // No writer leaves a record without a deletion flag and with nothing but NUL bytes: it lies
    // in a zeroed stretch of the file and holds nothing to recover.
    if (flag == 0 &&
        std::all_of(values.begin(), values.end(), [](std::uint8_t b) { return b == 0; })) {
        if (why_)
            why_->found(index, nullptr, Finding::ZeroedRecord, {}, 0);
        return RecordVerdict::Reject;
    }
    if (options_.recoverDeleted && flag == deletedFlag) {
        flag = liveFlag;
        if (why_)
            why_->found(index, nullptr, Finding::Undeleted, {}, 0);
    }

    // Keyed on the values as read, before any field repair.
    bool rejected = false;
    if (options_.deleteDuplicates && flag != deletedFlag && !(key && key->unique)) {
        std::uint32_t earlier = 0;
        std::uint32_t *earlierIndex = why_ ? &earlier : nullptr;
        rejected = key ? duplicates_.findOrAdd(values, key->hash, index, earlierIndex)
                       : duplicates_.findOrAdd(values, index, earlierIndex);
        if (rejected && why_)
            why_->found(index, nullptr, Finding::Duplicate, {}, earlier);
    }

    // A duplicate still has its first field looked at, as every record does.
    if (rejected) {
        if (firstFieldTested_)
            passes(steps_.front(), record, index);
    } else if (why_) {
        for (const Step &step : steps_) {
            if (!passes(step, record, index)) {
                rejected = true;
                break;
            }
        }
    } else {
        rejected = !allPass(record, index);
    }

    if (flag != deletedFlag && flag != liveFlag) {
        if (why_)
            why_->found(index, nullptr, Finding::DeletionFlagRepaired, {&flag, 1}, 0);
        flag = liveFlag;
    }
    return rejected ? RecordVerdict::Reject : RecordVerdict::Keep;
}

RecordVerdict checkRecord(std::span<std::uint8_t> record, std::uint32_t index,
                          const RecoveryOptions &options, const RecoveryJob &job,
                          DuplicateTable &duplicates, FindingSink *why) {
    return RecordChecks(job, options, duplicates, why, record.size()).check(record, index);
}

} // namespace salvora
