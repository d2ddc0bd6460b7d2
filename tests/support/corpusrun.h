// Runs a corpus case in a folder of its own and gathers what the repair left there.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/damagecorpus.h"

namespace salvora::testing {

struct CorpusOutcome {
    int result = 0;
    std::string message;
    std::optional<Bytes> table; // the output table, when it exists
    std::optional<Bytes> memo;  // the output memo, when it exists
    Bytes source;               // the source table after the run
    std::optional<Bytes> sourceMemo;
    std::vector<std::string> names; // every file of the folder after the run
};

// Writes the case's input into `folder` and repairs it there, with `folder` as the working
// folder; the output is "out.dbf", or "t.dbf" itself for an in-place case.
CorpusOutcome runCorpusCase(const CorpusCase &c, platform::Platform &os, const std::string &folder);

// Repairs `source` to `output` in `folder` with the case's options, as a second pass over a
// fixed table.
CorpusOutcome repairAgain(const CorpusCase &c, platform::Platform &os, const std::string &folder,
                          const std::string &source, const std::string &output);

// The files a case should leave: its input and the output it expects, nothing else.
std::vector<std::string> expectedNames(const CorpusCase &c);

// "" when equal, otherwise where and how the two first differ.
std::string firstDifference(const Bytes &actual, const Bytes &expected);

// The records of a table file that the run wrote, as `checkRecord` sees them with no filter
// set: an empty answer means every one is kept unchanged; otherwise one line per record that
// is not.
std::string recordsFailingChecks(platform::Platform &os, const std::string &table);

// Memo references of the output that do not start a memo of its memo file, one line each.
std::string danglingMemoReferences(platform::Platform &os, const std::string &table);

} // namespace salvora::testing
