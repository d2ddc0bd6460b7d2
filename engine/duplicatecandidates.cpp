#include "engine/duplicatecandidates.h"

#include "engine/repeatedhashes.h"

namespace salvora {

std::optional<DuplicateCandidates>
DuplicateCandidates::of(std::span<const std::uint32_t> keyHashes) {
    std::optional<RepeatedHashes> repeated = RepeatedHashes::of(keyHashes);
    if (!repeated)
        return std::nullopt;
    DuplicateCandidates candidates;
    std::size_t bytes = repeated->keys() * sizeof(Candidate) + 1;
    candidates.memory_ = platform::LargeMemory(bytes, bytes >= (2u << 20));
    if (!candidates.memory_)
        return std::nullopt;
    auto *out = reinterpret_cast<Candidate *>(candidates.memory_.data());
    constexpr std::size_t lookAhead = 16;
    for (std::size_t i = 0; i < keyHashes.size(); ++i) {
        if (i + lookAhead < keyHashes.size())
            repeated->prefetch(keyHashes[i + lookAhead]);
        if (repeated->contains(keyHashes[i]))
            out[candidates.count_++] = {static_cast<std::uint32_t>(i), keyHashes[i]};
    }
    return candidates;
}

} // namespace salvora
