// The descriptor walks of the byte-by-byte header search, answered in amortised constant time.
//
// The candidate at offset k walks the 32-byte descriptors at k + 32, k + 64, ... and the
// candidate at k + 32 walks the same ones less the first. Each of the 32 residue chains keeps
// the descriptors it has already looked at, with running sums, so that every descriptor of the
// file is examined once per chain instead of once per candidate.
#pragma once

#include <array>
#include <cstdint>

#include "engine/entryqueue.h"

namespace salvora {

class WindowReader;

struct DescriptorWalk {
    std::int32_t walked = 0;   // descriptors before the first stop, at most the limit
    bool terminated = false;   // the walk ended at a terminator before the limit
    bool unacceptable = false; // the walk ended at a descriptor of no accepted type
    std::uint64_t lengthSum = 0;
};

// What walking the descriptors does to the inferred table type.
void inferTypeOnHeaderPath(const std::uint8_t *descriptor, std::uint8_t &inferred);

class DescriptorChains {
  public:
    explicit DescriptorChains(WindowReader &reader) : reader_(reader) {}

    // Walks at most `limit` descriptors from `start`, as the search would one by one, and
    // applies their type inference to `inferred`.
    DescriptorWalk walk(std::uint64_t start, std::int32_t limit, std::uint8_t &inferred);

  private:
    static constexpr std::uint64_t none = ~std::uint64_t{0};

    struct Entry {
        std::uint64_t lengthBefore; // sum of the chain's lengths before this descriptor
        std::uint32_t length;
        // Positions, along the chain, of the last descriptor at or before this one that sets
        // the inferred type outright, and of the last one with field flags 0x0C.
        std::uint64_t lastSetter;
        std::uint8_t setterValue;
        std::uint64_t lastFlagged;
    };
    struct Chain {
        std::uint64_t front = 0; // position of entries.front()
        std::uint64_t next = 0;  // position after the last entry
        EntryQueue<Entry> entries;
        bool stopped = false; // `next` holds a terminator or an unacceptable descriptor
        bool stopIsTerminator = false;
    };

    void extend(Chain &chain, std::size_t wanted);

    WindowReader &reader_;
    std::array<Chain, 32> chains_{};
    bool used_[32] = {};
};

struct Level7Walk {
    std::int32_t converted = 0; // descriptors the conversion yields
    std::int32_t walked = 0;    // of those, the ones before a name starting with 0x1A
    bool cut = false;           // such a name ended the walk
    std::uint64_t lengthSum = 0;
};

// The same for the 48-byte descriptors of level 7 tables, whose conversion reads up to 4096 of
// them per candidate: 48 residue chains, each remembering the blocks it has classified.
class Level7Chains {
  public:
    explicit Level7Chains(WindowReader &reader) : reader_(reader) {}

    // Converts from `start` (just after the 68-byte header) as the search would, collecting at
    // most `maximum` descriptors, and walks the result.
    Level7Walk walk(std::uint64_t start, std::uint32_t maximum, std::uint8_t &inferred);

  private:
    static constexpr std::uint64_t none = ~std::uint64_t{0};

    struct Entry {
        // Running counts along the chain before this block, and the block's own share.
        std::uint64_t collectedBefore;
        std::uint64_t lengthBefore;
        std::uint64_t marksBefore; // collected descriptors whose name starts with 0x1A
        bool collected;            // a length of 0 makes a descriptor that is skipped
        bool mark;
        std::uint32_t length;
        std::uint64_t lastSetter;
        std::uint8_t setterValue;

        std::uint64_t collectedThrough() const { return collectedBefore + (collected ? 1 : 0); }
        std::uint64_t lengthThrough() const { return lengthBefore + (collected ? length : 0); }
        std::uint64_t marksThrough() const { return marksBefore + (mark ? 1 : 0); }
    };
    struct Chain {
        std::uint64_t front = 0;
        std::uint64_t next = 0;
        EntryQueue<Entry> entries;
        bool stopped = false;
        bool stopIsTerminator = false; // otherwise a descriptor of no accepted type
    };

    void extend(Chain &chain, std::uint64_t wantedCollected);

    WindowReader &reader_;
    std::array<Chain, 48> chains_{};
    bool used_[48] = {};
};

} // namespace salvora
