// Carries the memos a kept record refers to into the new memo file.
#pragma once

#include <cstdint>
#include <span>

#include "engine/memofile.h"
#include "engine/recoveryjob.h"

namespace salvora {

// Fields whose value is a block number in the memo file.
bool isMemoBearingField(char type);

// Copies every memo the record refers to from `source` to the end of `target` and rewrites the
// references in the record to the new blocks.
void transferMemos(std::span<std::uint8_t> record, const RecoveryJob &job, MemoFile &source,
                   MemoFile &target);

// Writes block number `block` into a memo field in the form its length calls for; 0 leaves
// the field saying "no memo".
void writeMemoReference(std::span<std::uint8_t> record, const FieldDescriptor &field,
                        std::uint32_t block);

} // namespace salvora
