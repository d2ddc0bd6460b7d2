// The per-record decision of a recovery run.
#pragma once

#include <cstdint>
#include <span>

#include "engine/duplicatetable.h"
#include "engine/enginecontext.h"
#include "engine/findings.h"
#include "engine/recoveryjob.h"

namespace salvora {

enum class RecordVerdict {
    Keep,
    Reject,
    // Dropped by the pack or empty-record filter before any other test.
    DroppedByFilter,
};

// Applies the option filters and the field tests to one record of the job's table, repairing
// it in place where a test repairs (logical values, invalid memo references, the deletion
// flag). `record` holds exactly one record; nothing outside it is read or written. `why`,
// when given, hears of every repair and of the reason a record is dropped.
RecordVerdict checkRecord(std::span<std::uint8_t> record, std::uint32_t index,
                          const RecoveryOptions &options, const RecoveryJob &job,
                          DuplicateTable &duplicates, FindingSink *why = nullptr);

} // namespace salvora
