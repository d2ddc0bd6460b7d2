// The journal that makes replacing a table and its memo file one step, even across a crash:
// written and flushed before the first rename, removed after the last, and read by the next
// run, which finishes or undoes what it finds.
#pragma once

#include <string>

#include "platform/platform.h"

namespace salvora {

// ".t.dbf.salvora-jrnl" beside `tableTarget`: shorter than a work file's name, so it fits wherever
// one does, and never of the shape the cleaner of dead work files removes.
std::string journalPath(const std::string &tableTarget);
// ".t.fpt.salvora-saved": the copy of the old memo that waits until the pair is in place.
std::string savedMemoPath(const std::string &memoTarget);

struct PairJournal {
    std::string tableFinished;
    std::string tableTarget;
    std::string memoFinished;
    std::string memoTarget;
    std::string savedMemo; // empty when there was no old memo
    // Where the old table and memo go when the repair keeps them (the memo fields may then be
    // empty: a table without memo); empty when the old files are replaced.
    std::string tableKept;
    std::string memoKept;
};

// Creates the journal and flushes it to stable storage.
platform::ErrorCode writeJournal(platform::Platform &os, const PairJournal &journal);

enum class JournalState {
    None,       // no journal: nothing to do
    Settled,    // an unfinished replacement was finished or undone
    Damaged,    // unreadable or not ours: left alone
    Missing,    // names files that are not there: left alone
    Unfinished, // found by a look that changes nothing
};

struct JournalOutcome {
    JournalState state = JournalState::None;
    std::string line; // one line for the user; empty when there was no journal
    bool blocks() const { return state == JournalState::Damaged || state == JournalState::Missing; }
};

// Finishes the replacement a journal beside `tableTarget` describes when both finished files
// are there (the memo may already be in place), or undoes it when the finished table is gone
// but the memo has not moved. With `look` only, nothing is changed.
JournalOutcome settleJournal(platform::Platform &os, const std::string &tableTarget,
                             bool look = false);

} // namespace salvora
