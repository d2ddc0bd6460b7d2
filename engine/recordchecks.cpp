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

bool fieldPasses(std::span<std::uint8_t> record, const FieldDescriptor &field,
                 const RecoveryOptions &options, MemoFile *memo, std::uint8_t tableType) {
    std::size_t offset = field.displacement();
    switch (field.type()) {
    case 'M':
        if (!memo)
            return true;
        return !(clearInvalidMemoReference(record, field, *memo, tableType) &&
                 options.deleteInvalidMemo);
    case 'L':
        repairLogical(record, offset);
        return true;
    case 'T':
        return isValidDateTime(record, offset, tableType);
    case 'D':
        return isValidDate(record, offset);
    case 'N':
    case 'F':
        return isValidNumber(record, offset, fieldLength(field));
    default:
        // General and picture fields refer to memo blocks too, but are left as they are.
        return true;
    }
}

} // namespace

RecordVerdict checkRecord(std::span<std::uint8_t> record, std::uint32_t index,
                          const RecoveryOptions &options, const RecoveryJob &job,
                          DuplicateTable &duplicates) {
    // Without even a deletion flag there is nothing to test; such a record is empty.
    if (record.empty())
        return options.deleteEmpty ? RecordVerdict::DroppedByFilter : RecordVerdict::Keep;
    std::uint8_t &flag = record[0];
    std::span<std::uint8_t> values = record.subspan(1);

    if (options.pack && flag == deletedFlag)
        return RecordVerdict::DroppedByFilter;
    if (options.deleteEmpty && isEmpty(values))
        return RecordVerdict::DroppedByFilter;
    if (options.recoverDeleted && flag == deletedFlag)
        flag = liveFlag;

    // Keyed on the values as read, before any field repair.
    bool rejected =
        options.deleteDuplicates && flag != deletedFlag && duplicates.findOrAdd(values, index);

    MemoFile *memo = job.sourceMemo && job.sourceMemo->isOpen() ? job.sourceMemo.get() : nullptr;
    std::uint8_t tableType = job.header.type();
    for (const FieldDescriptor &field : job.fields) {
        if (!fieldPasses(record, field, options, memo, tableType))
            rejected = true;
        if (rejected)
            break;
    }

    if (flag != deletedFlag && flag != liveFlag)
        flag = liveFlag;
    return rejected ? RecordVerdict::Reject : RecordVerdict::Keep;
}

} // namespace salvora
