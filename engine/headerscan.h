// The byte-by-byte header search past offset 0, at the pace of reading the file: which offset
// the search accepts first, and the acceptance it carries into that offset. What the accepted
// header holds, and the table type inferred on the way there, the search itself works out.
#pragma once

#include <cstdint>
#include <optional>

namespace salvora {

class WindowReader;

struct HeaderScanHit {
    std::uint64_t offset = 0;
    bool acceptanceBefore = false;
};

// Scans the offsets from `from` (at least 1) to the end of the file, entering `from` with
// `acceptance`. `reader` may look a stretch behind what it was last asked for (see
// `headerScanLookBack`); record flags are sampled through `sampler`.
std::optional<HeaderScanHit> scanForHeader(WindowReader &reader, WindowReader &sampler,
                                           std::uint64_t from, bool acceptance);

// How far behind its furthest view the scan's reader must keep what it read.
inline constexpr std::size_t headerScanLookBack = 256u << 10;

} // namespace salvora
