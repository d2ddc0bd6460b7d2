// The damage corpus: for every table kind and every kind of damage, a damaged table (and memo
// file) built from a sound one by a small generator step, with the repair expected of it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/enginecontext.h"
#include "platform/platform.h"
#include "tests/support/corpusmodel.h"

namespace salvora::testing {

struct CorpusCase {
    std::string name;    // letters, digits and '_' only
    std::string kindTag; // "t83" for table type 0x83
    std::uint8_t kind = 0;

    // Input: the table is written as "t.dbf", the memo (when there is one) as `memoName`.
    Bytes table;
    std::optional<Bytes> memo;
    std::string memoName;
    RecoveryOptions options;
    // Run with a window whose "keep deleted" box is cleared: deleted records are left out.
    bool dropDeleted = false;
    // Repair "t.dbf" onto itself instead of into "out.dbf".
    bool inPlace = false;

    // Expected: the run's result, the kept count and the files it leaves. No table means that
    // no output may exist; no memo that no output memo may exist.
    int result = 1;
    std::uint32_t kept = 0;
    std::optional<Bytes> expectedTable;
    std::optional<Bytes> expectedMemo;
    // The extension of the output memo, "fpt", "dbt" or "smt".
    std::string memoExtension;
    // Why the output, read again by this program, is not what the first run made of the input;
    // empty for all but a few cases.
    std::string readsDifferentlyAgain;
};

// The date the corpus runs with, so that a header given today's date is known to the byte.
platform::LocalTime corpusClock();

std::vector<CorpusCase> damageCorpus();
// The tags of the table kinds, and the cases of one kind.
std::vector<std::string> corpusKindTags();
std::vector<CorpusCase> damageCorpus(const std::string &kindTag);

} // namespace salvora::testing
