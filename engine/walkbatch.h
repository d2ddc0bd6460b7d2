// The header search's offsets that walk, settled sixty-four at a time where the processor has
// the vectors for it (`wideVectors`): first what each offset's header asks (which walk, how far),
// then each walk from the classified blocks it covers. Exactly what the one-offset search decides;
// an offset these do not settle is left to it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/stridefacts.h"

namespace salvora {

inline constexpr std::size_t walkPlanOffsets = 64;

// Counts of a level 7 block: the length it adds, and a tally of two in one: whether it is
// collected (a length byte of 0 makes one that is skipped) and whether its name starts with
// an end-of-file marker. Sums of tallies over fewer than 65,536 blocks keep the two apart.
enum Level7Count { level7Length, level7Tally };
inline constexpr std::uint32_t level7MarkedUnit = 1u << 16;
constexpr std::uint32_t collectedOf(std::uint32_t tally) {
    return tally & (level7MarkedUnit - 1);
}
constexpr std::uint32_t markedOf(std::uint32_t tally) {
    return tally >> 16;
}

struct WalkPlan {
    // Bit k stands for the k-th offset from the first.
    std::uint64_t descriptorWalks = 0; // walks 32-byte descriptors
    std::uint64_t level7Walks = 0;     // walks level 7 blocks
    std::uint64_t unsettled = 0;       // left to the one-offset search
    std::uint32_t longestLevel7 = 0;   // the most blocks a level 7 walk may cover
    // Every offset walks, all the same kind, as far, with one record length (inside a run).
    bool alike = false;
    alignas(32) std::array<std::uint16_t, walkPlanOffsets> recordLength{};
    // The field count of a descriptor walk, or the blocks a level 7 walk collects.
    alignas(32) std::array<std::uint16_t, walkPlanOffsets> blocks{};
};

// Bytes past an offset that a plan reads, and scan classes past it.
inline constexpr std::size_t walkPlanBytes = walkPlanOffsets + 132;
inline constexpr std::size_t walkPlanClasses = walkPlanOffsets + 116;

// The plan for the `count` (at most 64) offsets from `headers`, whose scan classes are
// `classes`. An offset whose first block is no descriptor is settled here.
void planWalks(const std::uint8_t *headers, const std::uint8_t *classes, std::size_t count,
               WalkPlan &plan);

// The plan's walks whose record length may be the one the walk adds up, or that the blocks'
// facts alone do not settle. `firstStart`: where the first offset's walk would start (its
// position plus 32, or plus 68 at level 7); every block the walks cover is held.
std::uint64_t descriptorWalksThatMayCount(const WalkPlan &plan,
                                          const StrideFacts<32, 1>::Ring &ring,
                                          std::uint64_t firstStart);
std::uint64_t level7WalksThatMayCount(const WalkPlan &plan, const StrideFacts<48, 2>::Ring &ring,
                                      std::uint64_t firstStart);

} // namespace salvora
