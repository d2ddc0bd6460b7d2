// The per-record decision of a recovery run.
#pragma once

#include <cstdint>
#include <span>

#include "engine/enginecontext.h"
#include "engine/recoveryjob.h"

namespace salvora {

enum class RecordVerdict {
    Keep,
    Reject,
    // Dropped by the pack or empty-record filter before any other test.
    DroppedByFilter,
};

// Records seen so far, for the delete-duplicates filter.
struct DuplicateTable {};

// May repair the record in place.
RecordVerdict checkRecord(std::span<std::uint8_t> record, std::uint32_t index,
                          const RecoveryOptions &options, const RecoveryJob &job,
                          DuplicateTable &duplicates);

} // namespace salvora
