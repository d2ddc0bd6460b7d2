// The byte-by-byte header search written the slow, obvious way: one candidate after the other,
// each reading its header and descriptors afresh. The engine's search must find the same.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "tests/support/tablebuilder.h"

namespace salvora::testing {

struct ReferenceHeader {
    std::uint64_t offset = 0;
    Bytes header;                  // the 32 bytes found there
    std::int32_t fieldCount = 0;   // after the walk, before clamping
    std::uint8_t inferredType = 0; // the inference state when the candidate was accepted
    std::vector<Bytes> fields;     // 32-byte descriptors, displacements of walked ones set
};

// The accepted candidate, or nothing when the search gives up (the caller then rebuilds).
// `pastRebuild`: the descriptors behind a damaged header at offset 0 described no records, so
// the search goes on past them.
std::optional<ReferenceHeader> referenceHeaderSearch(const Bytes &file, bool pastRebuild = false);

} // namespace salvora::testing
