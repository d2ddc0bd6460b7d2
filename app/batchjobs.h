// The tables of a command-line batch repaired one after another, or several at once on worker
// threads with every line, message and log entry given out in the batch's own order: the
// output, the logs, the files and the exit code are those of a run one table at a time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/appcontext.h"
#include "engine/recovery.h"

namespace salvora {

// A table's run, as the batch gives it back.
struct TableRun {
    RecoveryOutcome outcome;
    // The table's identity taken right after its run: a repaired table is a new file.
    std::optional<platform::FileIdentity> tableAfter;
};

// What a batch does with each of its entries. Every call comes from the batch's own thread,
// in the entries' order.
class BatchEntries {
  public:
    virtual ~BatchEntries() = default;
    virtual std::size_t count() const = 0;
    // The table entry `index` names, or null for an entry that is only a line (a folder).
    virtual const std::string *tableAt(std::size_t index) const = 0;
    // Whether the listing that found that table showed a file of its folder, not a link.
    virtual bool listedAsFile(std::size_t) const { return false; }
    // Just before the table is taken up: false when it is not to be repaired (a second name).
    virtual bool take(std::size_t index) = 0;
    // Once the entry is done; `run` is null when nothing was repaired.
    virtual void finish(std::size_t index, const TableRun *run) = 0;
    // Between the two, the lines of finished entries may be kept and written in one piece:
    // a parallel batch gives them out in runs.
    virtual void holdLines() {}
    virtual void releaseLines() {}
};

inline constexpr unsigned maximumJobs = 64;

// The number in the text of "/jobs:N"; nothing when it is no whole number from 1 to
// `maximumJobs`.
std::optional<unsigned> readJobCount(std::string_view text);
// One job per processor.
unsigned defaultJobCount();

// Repairs every table of `entries` in place with `jobs` at a time; 1 runs them on this thread.
void runBatchEntries(AppContext &app, BatchEntries &entries, unsigned jobs);

} // namespace salvora
