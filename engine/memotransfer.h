// Carries the memos a kept record refers to into the new memo file.
#pragma once

#include <cstdint>
#include <span>

#include "engine/findings.h"
#include "engine/memofile.h"
#include "engine/recoveryjob.h"

namespace salvora {

// Fields whose value is a block number in the memo file.
bool isMemoBearingField(char type);

// Copies every memo the record refers to from `source` to the end of `target` and rewrites the
// references in the record to the new blocks. `why`, when given, hears of each memo carried and
// of each reference cleared, as findings of record `index`. Returns how many references were
// cleared because their memo could not be read.
std::uint32_t transferMemos(std::span<std::uint8_t> record, const RecoveryJob &job,
                            MemoFile &source, MemoFile &target, FindingSink *why = nullptr,
                            std::uint32_t index = 0);

// What `transferMemos` would find, without writing anything: the record keeps its references.
void inspectMemos(std::span<const std::uint8_t> record, const RecoveryJob &job, MemoFile &source,
                  FindingSink &why, std::uint32_t index);

// Writes block number `block` into a memo field in the form its length calls for; 0 leaves
// the field saying "no memo".
void writeMemoReference(std::span<std::uint8_t> record, const FieldDescriptor &field,
                        std::uint32_t block);

} // namespace salvora
