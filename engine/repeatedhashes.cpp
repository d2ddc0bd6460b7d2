#include "engine/repeatedhashes.h"

#include <cstring>

namespace salvora {

namespace {

// Least significant byte first: four passes over memory in order, each writing to no more
// places at once than the fastest cache holds.
constexpr int digitBits = 8;
constexpr std::uint32_t digitValues = 1u << digitBits;
constexpr int digits = 32 / digitBits;

void radixSort(std::uint32_t *values, std::uint32_t *scratch, std::size_t count) {
    static_assert(digits % 2 == 0, "the sorted values end up where they started");
    std::size_t counts[digits][digitValues] = {};
    for (std::size_t i = 0; i < count; ++i)
        for (int d = 0; d < digits; ++d)
            ++counts[d][(values[i] >> (d * digitBits)) & (digitValues - 1)];
    std::uint32_t *from = values;
    std::uint32_t *to = scratch;
    for (int d = 0; d < digits; ++d) {
        std::size_t start = 0;
        for (std::size_t &n : counts[d]) {
            std::size_t here = n;
            n = start;
            start += here;
        }
        for (std::size_t i = 0; i < count; ++i)
            to[counts[d][(from[i] >> (d * digitBits)) & (digitValues - 1)]++] = from[i];
        std::swap(from, to);
    }
}

} // namespace

std::optional<RepeatedHashes> RepeatedHashes::of(std::span<const std::uint32_t> hashes) {
    std::size_t n = hashes.size();
    platform::LargeMemory sortMemory(2 * n * sizeof(std::uint32_t) + 1, n >= (1u << 20));
    if (!sortMemory)
        return std::nullopt;
    auto *sorted = reinterpret_cast<std::uint32_t *>(sortMemory.data());
    if (n != 0)
        std::memcpy(sorted, hashes.data(), n * sizeof(std::uint32_t));
    radixSort(sorted, sorted + n, n);

    RepeatedHashes set;
    std::size_t repeated = 0;
    for (std::size_t i = 1; i < n; ++i) {
        if (sorted[i] != sorted[i - 1])
            continue;
        bool first = i == 1 || sorted[i - 1] != sorted[i - 2];
        repeated += first;
        set.keys_ += first ? 2 : 1;
    }

    int bits = 4;
    while ((std::size_t{1} << bits) < 2 * repeated)
        ++bits;
    std::size_t bytes = (std::size_t{1} << bits) * sizeof(std::uint32_t);
    set.memory_ = platform::LargeMemory(bytes, bytes >= (2u << 20));
    if (!set.memory_)
        return std::nullopt;
    set.mask_ = static_cast<std::uint32_t>((std::uint64_t{1} << bits) - 1);
    set.shift_ = static_cast<std::uint32_t>(64 - bits);
    for (std::size_t i = 1; i < n; ++i)
        if (sorted[i] == sorted[i - 1] && (i == 1 || sorted[i - 1] != sorted[i - 2]))
            set.add(sorted[i]);
    return set;
}

void RepeatedHashes::add(std::uint32_t hash) {
    ++count_;
    if (hash == 0) {
        zeroRepeated_ = true;
        return;
    }
    auto *slots = reinterpret_cast<std::uint32_t *>(memory_.data());
    std::uint32_t at = homeOf(hash);
    while (slots[at] != 0)
        at = (at + 1) & mask_;
    slots[at] = hash;
}

} // namespace salvora
