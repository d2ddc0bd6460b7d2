// The per-record decision of a recovery run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

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

// The checks of one run, planned once for its records: which test each field gets and where
// its bytes lie inside the record. Fields whose type has no test cost nothing per record.
// The plan holds on to the job, the options, the table and the sink; the job's fields and its
// memo file must not change while it is in use.
class RecordChecks {
  public:
    RecordChecks(const RecoveryJob &job, const RecoveryOptions &options, DuplicateTable &duplicates,
                 FindingSink *why, std::size_t recordLength);

    // Applies the option filters and the field tests to one record, repairing it in place
    // where a test repairs (logical values, invalid memo references, the deletion flag).
    // `record` holds exactly one record; nothing outside it is read or written. `why`, when
    // given, hears of every repair and of the reason a record is dropped.
    RecordVerdict check(std::span<std::uint8_t> record, std::uint32_t index) {
        return decide(record, index, nullptr);
    }
    // The same for a run that looked at the duplicate key (the record's bytes after the
    // deletion flag, as read) ahead of the checks.
    struct KeyAhead {
        // As `DuplicateTable::hashOf` takes it.
        std::uint32_t hash = 0;
        // No other record of the table has a key of that hash: the key needs neither a
        // lookup nor a place in the table.
        bool unique = false;
    };
    RecordVerdict check(std::span<std::uint8_t> record, std::uint32_t index, KeyAhead key) {
        return decide(record, index, &key);
    }

  private:
    enum class Test : std::uint8_t {
        Memo,
        Logical,
        DateTime,
        DateWord,
        DateCut,
        NumberLanes,
        NumberWords,
    };
    struct Step {
        Test test;
        std::uint32_t offset;
        // Bytes of the field inside the record (numbers), or what a finding shows.
        std::uint32_t length;
        const FieldDescriptor *field;
    };

    void plan(std::size_t recordLength);
    RecordVerdict decide(std::span<std::uint8_t> record, std::uint32_t index, const KeyAhead *key);
    bool allPass(std::span<std::uint8_t> record, std::uint32_t index);
    bool passes(const Step &step, std::span<std::uint8_t> record, std::uint32_t index);

    const RecoveryJob &job_;
    const RecoveryOptions &options_;
    DuplicateTable &duplicates_;
    FindingSink *why_;
    MemoFile *memo_;
    std::uint8_t tableType_;
    std::size_t recordLength_ = 0;
    std::vector<Step> steps_;
    bool firstFieldTested_ = false;
};

// One record checked on its own, for callers that have no run to plan for.
RecordVerdict checkRecord(std::span<std::uint8_t> record, std::uint32_t index,
                          const RecoveryOptions &options, const RecoveryJob &job,
                          DuplicateTable &duplicates, FindingSink *why = nullptr);

} // namespace salvora
