// Bytes inserted into or lost from the record area shift every record behind them off the
// grid that the header gives. The walk notices the break where it already pays for it (a
// record with a bad deletion flag, or one its checks reject) and asks this module where the
// grid resumes; the records in between are dropped as misaligned instead of passed as data.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/bufferedio.h"
#include "engine/recoveryjob.h"

namespace salvora {

// Tells whether the bytes at some offset look like one of the table's own records: its flag is
// a flag, its fields hold what their types allow, and, once sound records were learned, every
// byte is of a kind (digit, blank, letter...) its column held in them.
class RecordLikeness {
  public:
    RecordLikeness(const RecoveryJob &job, std::uint32_t recordLength);

    // Learns the kinds of bytes per column from records that pass the type rules.
    void learn(const std::uint8_t *records, std::size_t count);
    // Enough sound records were learned for their columns to count.
    bool learned() const;
    // `strictFlag`: the flag must be ' ' or '*'; otherwise the fields alone decide, as for
    // records on the header's own grid, whose flags the checks repair.
    bool looksSound(const std::uint8_t *record, bool strictFlag) const;

  private:
    enum class Rule : std::uint8_t { Number, Date, Logical, Text, MemoDigits };
    struct FieldRule {
        Rule rule;
        std::uint32_t offset;
        std::uint32_t length;
    };
    bool passesRules(const std::uint8_t *record, bool strictFlag) const;
    void widenKinds();

    std::uint32_t recordLength_;
    std::vector<FieldRule> rules_;
    std::vector<std::uint8_t> columnKinds_;
    std::size_t learned_ = 0;
};

// How many records after an offset must look sound, one after the other, before the grid
// counts as resumed there.
inline constexpr std::uint32_t gridResumeRecords = 4;
// The header's own grid holds when at least half of this many records after a bad one look
// sound by their fields: a table may have many damaged records and still be on its grid.
inline constexpr std::uint32_t gridHoldRecords = 8;

// Reads ahead of the walk with a reader of its own, so that the walk's batch stays in place.
class GridSearch {
  public:
    GridSearch(platform::FileHandle &file, std::uint64_t fileSize, const RecoveryJob &job,
               std::uint64_t base, std::uint32_t recordLength);

    // Whether the header's grid holds from `offset` on.
    bool gridHolds(std::uint64_t offset);
    // The first offset after `from` at which the grid holds; none up to the end of the file.
    // Learns the table's columns first from the records before `from`.
    std::optional<std::uint64_t> resumeAfter(std::uint64_t from);

  private:
    void learn(std::uint64_t before);
    void learnBefore(std::uint64_t offset);
    void learnFromEnd();
    // How many of `count` records from `offset` look sound; with `strictFlags`, how many
    // before the first that does not.
    std::uint32_t soundRecords(std::uint64_t offset, std::uint32_t count, bool strictFlags);

    WindowReader reader_;
    RecordLikeness likeness_;
    std::uint64_t base_;
    std::uint64_t fileSize_;
    std::uint32_t recordLength_;
    bool learnTried_ = false;
};

} // namespace salvora
