// The block size of a FoxPro memo file whose header lost it (zeroed): the blocks themselves
// tell it. Each block starts with its type and length, and the next one starts at the first
// multiple of the block size behind it; only the true size leads from block to block.
#pragma once

#include <cstdint>
#include <functional>

namespace salvora {

// `read(offset, buffer, length)` reads from the memo file; false when it cannot. 0 when no
// size leads through the blocks.
std::int32_t
inferFoxProBlockSize(std::uint64_t fileSize,
                     const std::function<bool(std::uint64_t, std::uint8_t *, std::size_t)> &read);

} // namespace salvora
