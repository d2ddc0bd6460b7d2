// Carries the memos a kept record refers to into the new memo file.
#pragma once

#include <cstdint>
#include <span>

#include "engine/recoveryjob.h"

namespace salvora {

struct MemoFile;

// Rewrites the record's memo references to the blocks appended to `target`.
void transferMemos(std::span<std::uint8_t> record, const RecoveryJob &job, MemoFile &source,
                   MemoFile &target);

} // namespace salvora
