// With no header and no descriptors left, the field layout is read off the records: columns of
// digits, dates, T/F and text give the field boundaries and types. Fields are named FIELD1 on.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/recordgrid.h"
#include "engine/tableformat.h"

namespace salvora {

class WindowReader;

// Whether a block number leads to a memo in the memo file beside the table.
using MemoTarget = std::function<bool(std::uint32_t block)>;

struct InferredFields {
    std::vector<FieldDescriptor> fields; // displacements set
    bool textMemoReferences = false;     // 10-digit references
    bool binaryMemoReferences = false;   // 4-byte references
};

// `memoTarget` is empty when no memo file lies beside the table. Reads a bounded sample of the
// records.
InferredFields inferFields(WindowReader &reader, const RecordGrid &grid,
                           const MemoTarget &memoTarget);

} // namespace salvora
