// With no header left, the deletion-flag column still tells how long a record is (the period at
// which ' ' and '*' recur) and where records start.
#pragma once

#include <cstdint>
#include <optional>

namespace salvora {

class WindowReader;

struct RecordGrid {
    std::uint32_t recordLength = 0;
    // Where the first record with a sound flag starts, and where the last whole record ends.
    std::uint64_t firstRecord = 0;
    std::uint64_t end = 0;
};

// Looks at a bounded stretch of the file's records; none when no period of flags stands out
// clearly (random bytes, text).
std::optional<RecordGrid> findRecordGrid(WindowReader &reader);

} // namespace salvora
