// Whether a header or a rebuilt field list describes the records that follow it: the bytes it
// takes for deletion flags must be flags. Junk that passes every test on the header's own bytes
// fails this one.
#pragma once

#include <cstdint>

namespace salvora {

class WindowReader;

struct FlagSample {
    int good = 0;  // ' ' or '*'
    int bad = 0;   // neither, nor NUL (which some writers store for a live record)
    int total = 0; // 0 when no whole record follows

    // A few bad flags are damage the run repairs: most must be sound, not all.
    bool passes() const { return bad * 3 <= total; }
};

// Samples the flags of the records from `start`: the first ones and, in a long file, some
// spread over the rest. At most `recordSampleLimit` bytes are read, whatever the file's size.
inline constexpr int recordSampleLimit = 16;
FlagSample sampleFlags(WindowReader &reader, std::uint64_t start, std::uint32_t recordLength);

} // namespace salvora
