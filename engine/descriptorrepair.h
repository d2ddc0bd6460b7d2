// A header whose own bytes are sound but one of whose field descriptors is lost (zeroed or
// garbled): the header's record length and the other descriptors fix where the lost field
// lies and how wide it is. The header is kept; the field gets a name (FIELD3) and the type its
// bytes in the records show, C when in doubt, which keeps every byte.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/recoveryjob.h"

namespace salvora {

class WindowReader;

struct RepairedDescriptors {
    std::vector<FieldDescriptor> fields; // with displacements, as the record checks need them
    std::vector<std::uint32_t> repaired; // indexes of the rebuilt descriptors
};

// The header at offset 0 as read; an empty result when it is not a header with one lost
// descriptor whose records follow it (their flags sampled).
RepairedDescriptors repairLostDescriptor(WindowReader &reader, const TableHeader &header);

// The bytes a rebuilt descriptor takes in the output (no displacement outside the types that
// store one).
FieldDescriptor descriptorAsWritten(const FieldDescriptor &field, std::uint8_t tableType);

} // namespace salvora
