// What the record checks and the memo transfer can say about one record, for a report. The
// checks take a sink pointer that is null unless a report was asked for, so that a plain run
// pays one untaken branch per finding and nothing else.
#pragma once

#include <cstdint>
#include <span>

#include "engine/tableformat.h"

namespace salvora {

enum class Finding : std::uint8_t {
    DroppedByPack,        // marked as deleted, dropped by /pack
    DroppedEmpty,         // nothing but blanks, dropped by /delempty
    Undeleted,            // deletion mark removed by /recoverydeleted
    Duplicate,            // equal to an earlier record, dropped by /deldups
    DeletionFlagRepaired, // neither '*' nor blank
    LogicalRepaired,      // not a logical value: set to a blank
    InvalidMemoCleared,   // the reference leads to no sound memo
    InvalidMemoDropped,   // the same, and the record dropped for it
    BadDateTime,          // day number outside the years 1900 to 3000
    BadDate,              // not YYYYMMDD
    BadNumber,            // a character no number has
    DeletedNotKept,       // marked as deleted while deleted records are not kept
    ZeroedRecord,         // every byte NUL, its flag too: a zeroed stretch, no record
};
inline constexpr int findingKinds = 13;

// True when the finding costs the record its place in the output.
constexpr bool dropsRecord(Finding finding) {
    switch (finding) {
    case Finding::DroppedByPack:
    case Finding::DroppedEmpty:
    case Finding::Duplicate:
    case Finding::InvalidMemoDropped:
    case Finding::BadDateTime:
    case Finding::BadDate:
    case Finding::BadNumber:
    case Finding::DeletedNotKept:
    case Finding::ZeroedRecord:
        return true;
    default:
        return false;
    }
}

class FindingSink {
  public:
    virtual ~FindingSink() = default;
    // `index` is the 0-based record position; `field` is null for the record as a whole.
    // `value` holds the bytes as found; `number` is the memo block or the earlier record.
    virtual void found(std::uint32_t index, const FieldDescriptor *field, Finding finding,
                       std::span<const std::uint8_t> value, std::uint32_t number) = 0;
    // A memo of a kept record went (or would go) into the new memo file.
    virtual void memoCarried() = 0;
};

} // namespace salvora
