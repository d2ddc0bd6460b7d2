#include "engine/recordchecks.h"

#include <algorithm>

#include "engine/fieldchecks.h"

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

bool fieldPasses(std::span<std::uint8_t> record, const FieldDescriptor &field,
                 const RecoveryOptions &options, MemoFile *memo, std::uint8_t tableType,
                 FindingSink *why, std::uint32_t index) {
    std::size_t offset = field.displacement();
    bool passes = true;
    Finding finding = Finding::BadNumber;
    std::size_t shown = 0;
    switch (field.type()) {
    case 'M': {
        if (!memo)
            return true;
        std::uint32_t block = why ? getMemoBlockNumber(record, field) : 0;
        if (!clearInvalidMemoReference(record, field, *memo, tableType))
            return true;
        bool drop = options.deleteInvalidMemo != 0;
        if (why)
            why->found(index, &field,
                       drop ? Finding::InvalidMemoDropped : Finding::InvalidMemoCleared, {}, block);
        return !drop;
    }
    case 'L':
        if (why) {
            std::span<const std::uint8_t> value = found(record, offset, 1);
            if (!value.empty() && value[0] != 'T' && value[0] != 'F' && value[0] != ' ')
                why->found(index, &field, Finding::LogicalRepaired, value, 0);
        }
        repairLogical(record, offset);
        return true;
    case 'T':
        passes = isValidDateTime(record, offset, tableType);
        finding = Finding::BadDateTime;
        shown = 4;
        break;
    case 'D':
        passes = isValidDate(record, offset);
        finding = Finding::BadDate;
        shown = 8;
        break;
    case 'N':
    case 'F':
        passes = isValidNumber(record, offset, fieldLength(field));
        shown = fieldLength(field);
        break;
    default:
        // General and picture fields refer to memo blocks too, but are left as they are.
        return true;
    }
    if (!passes && why)
        why->found(index, &field, finding, found(record, offset, shown), 0);
    return passes;
}

} // namespace

RecordVerdict checkRecord(std::span<std::uint8_t> record, std::uint32_t index,
                          const RecoveryOptions &options, const RecoveryJob &job,
                          DuplicateTable &duplicates, FindingSink *why) {
    // Without even a deletion flag there is nothing to test; such a record is empty.
    if (record.empty()) {
        if (!options.deleteEmpty)
            return RecordVerdict::Keep;
        if (why)
            why->found(index, nullptr, Finding::DroppedEmpty, {}, 0);
        return RecordVerdict::DroppedByFilter;
    }
    std::uint8_t &flag = record[0];
    std::span<std::uint8_t> values = record.subspan(1);

    if (options.pack && flag == deletedFlag) {
        if (why)
            why->found(index, nullptr, Finding::DroppedByPack, {}, 0);
        return RecordVerdict::DroppedByFilter;
    }
    if (options.deleteEmpty && isEmpty(values)) {
        if (why)
            why->found(index, nullptr, Finding::DroppedEmpty, {}, 0);
        return RecordVerdict::DroppedByFilter;
    }
    if (options.recoverDeleted && flag == deletedFlag) {
        flag = liveFlag;
        if (why)
            why->found(index, nullptr, Finding::Undeleted, {}, 0);
    }

    // Keyed on the values as read, before any field repair.
    std::uint32_t earlier = 0;
    bool rejected = options.deleteDuplicates && flag != deletedFlag &&
                    duplicates.findOrAdd(values, index, why ? &earlier : nullptr);
    if (rejected && why)
        why->found(index, nullptr, Finding::Duplicate, {}, earlier);

    MemoFile *memo = job.sourceMemo && job.sourceMemo->isOpen() ? job.sourceMemo.get() : nullptr;
    std::uint8_t tableType = job.header.type();
    for (const FieldDescriptor &field : job.fields) {
        if (!fieldPasses(record, field, options, memo, tableType, why, index))
            rejected = true;
        if (rejected)
            break;
    }

    if (flag != deletedFlag && flag != liveFlag) {
        if (why)
            why->found(index, nullptr, Finding::DeletionFlagRepaired, {&flag, 1}, 0);
        flag = liveFlag;
    }
    return rejected ? RecordVerdict::Reject : RecordVerdict::Keep;
}

} // namespace salvora
