#include "engine/recordchecks.h"

namespace salvora {

RecordVerdict checkRecord(std::span<std::uint8_t>, std::uint32_t, const RecoveryOptions &,
                          const RecoveryJob &, DuplicateTable &) {
    return RecordVerdict::Keep;
}

} // namespace salvora
