#include "tests/support/sharedhelpers.h"

namespace salvora::testing {

Bytes needsRepair() {
    return TableBuilder()
        .field("NAME", 'C', 10)
        .record("Alice")
        .record("Bob")
        .recordCount(5)
        .build();
}

std::uint32_t storedCount(const Bytes &table) {
    return table.size() < 8 ? 0
                            : static_cast<std::uint32_t>(table[4] | table[5] << 8 | table[6] << 16 |
                                                         table[7] << 24);
}

Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::string textOf(const Bytes &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

} // namespace salvora::testing
