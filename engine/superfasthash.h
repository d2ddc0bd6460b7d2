// Paul Hsieh's SuperFastHash, the hash of the duplicate table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace salvora {

// Seeded with the length; 0 for a missing or empty key.
std::uint32_t superFastHash(const std::uint8_t *data, std::int32_t length);

// `superFastHash` of as many keys of `length` bytes as `hashes` has room for, the first at
// `first` and each `stride` bytes after the one before, as a table's records lie.
void superFastHashEach(const std::uint8_t *first, std::size_t stride, std::size_t length,
                       std::span<std::uint32_t> hashes);

} // namespace salvora
