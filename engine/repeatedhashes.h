// The hashes that more than one key of a table has. A key whose hash is not among them has no
// equal in the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/largememory.h"

namespace salvora {

class RepeatedHashes {
  public:
    // From the hashes of all keys of a table, in any order. Nothing when the memory to sort
    // them is not to be had.
    static std::optional<RepeatedHashes> of(std::span<const std::uint32_t> hashes);

    bool contains(std::uint32_t hash) const {
        if (hash == 0)
            return zeroRepeated_;
        for (std::uint32_t at = homeOf(hash);; at = (at + 1) & mask_) {
            std::uint32_t slot = slots()[at];
            if (slot == hash)
                return true;
            if (slot == 0)
                return false;
        }
    }
    void prefetch(std::uint32_t hash) const { __builtin_prefetch(&slots()[homeOf(hash)]); }
    // How many hashes repeat, and how many keys have one of them.
    std::size_t count() const { return count_; }
    std::size_t keys() const { return keys_; }

  private:
    RepeatedHashes() = default;
    const std::uint32_t *slots() const {
        return reinterpret_cast<const std::uint32_t *>(memory_.data());
    }
    std::uint32_t homeOf(std::uint32_t hash) const {
        return static_cast<std::uint32_t>((std::uint64_t{hash} * 0x9E3779B97F4A7C15u) >> shift_);
    }
    void add(std::uint32_t hash);

    // Open-addressed set of the repeated hashes other than 0; 0 marks a free slot.
    platform::LargeMemory memory_;
    std::uint32_t mask_ = 0;
    std::uint32_t shift_ = 63;
    std::size_t count_ = 0;
    std::size_t keys_ = 0;
    bool zeroRepeated_ = false;
};

} // namespace salvora
