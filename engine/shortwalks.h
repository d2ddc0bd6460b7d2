// Most offsets that walk stop within a few blocks. Over a chunk of offsets, each block position
// is classified once, from the back, into what a walk from it adds up to its stop; an offset
// is then settled from its header and the tables at its first block, sixteen at a time,
// exactly as the one-offset search settles it. A walk that goes on past its first 64 blocks
// settles where those alone add up to more than its record length, since lengths only add up
// (worked out only for a chunk that has such walks). The other walks that reach past the
// tables are left to that search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define SALVORA_SHORT_WALK_VECTORS 1
#endif

#include "engine/tableformat.h"

namespace salvora {

class ShortWalks {
  public:
    // Past the chunk's last offset, the positions the tables cover; a walk reaching past them
    // is left.
    static constexpr std::size_t reach = 768;
    // The blocks at the start of a long walk whose lengths are added up as a bound, and the
    // positions past the chunk's last offset that the bounds cover.
    static constexpr std::uint32_t boundBlocks = 64;
    static constexpr std::size_t boundReach = 68 * 48;
    // Bytes and scan classes read past the chunk's last offset.
    static constexpr std::size_t bytesPast = boundReach + 64;

    // Works out the tables for the offsets from `from` up to `count` of a chunk, whose bytes
    // and scan classes are `bytes` and `classes`. Only with `wideVectors`.
    void build(const std::uint8_t *bytes, const std::uint8_t *classes, std::size_t from,
               std::size_t count);
    // The first offset from `from` up to `count` (built) whose record length may be the one
    // its walk adds up, or that is left to the one-offset search (a walk that reaches past the
    // tables, or a descriptor walk that meets a name that may be "_NULLFLAGS"); `count` when
    // there is none. Every offset before it fails without acceptance.
    std::size_t firstLeft(const std::uint8_t *bytes, const std::uint8_t *classes, std::size_t from,
                          std::size_t count, std::uint64_t fileSize);

  private:
#if SALVORA_SHORT_WALK_VECTORS
    struct Headers;
    static Headers headersAt(const std::uint8_t *headers, std::uint64_t fileSize);
    // Sixteen lanes each: those left by the walks they are sure to end; walks that go on past
    // their first blocks, and those of them the bounds settle (none before they are built).
    __m256i leftOfSixteen(const Headers &headers, std::size_t at) const;
    struct Bounded {
        __m256i longWalks;
        __m256i settled;
    };
    Bounded boundedOfSixteen(const Headers &headers, std::size_t at) const;
    // What sixteen blocks in a row hold, at each stride, and the tables' sixteen positions
    // worked out from them and the positions a stride on.
    struct DescriptorFacts;
    struct Level7Facts;
    static DescriptorFacts descriptorFacts(const std::uint8_t *bytes, const std::uint8_t *classes);
    static Level7Facts level7Facts(const std::uint8_t *bytes, const std::uint8_t *classes);
    void walksFrom(std::size_t j, const DescriptorFacts &descriptors, const Level7Facts &level7s);
    void boundsFrom(std::size_t j, const DescriptorFacts &descriptors, const Level7Facts &level7s);
    // Makes room for the bounds up to `end`, and what lies past.
    void startBounds(std::size_t end);
    void buildBounds(const std::uint8_t *bytes, const std::uint8_t *classes);
#endif

    // The offsets built, and whether the bounds are.
    std::size_t from_ = 0;
    std::size_t count_ = 0;
    bool boundsBuilt_ = false;
    // Whether a walk of this chunk went on past its first blocks: the next chunk's bounds are
    // then worked out with its tables.
    bool boundsUsed_ = false;

    // By position from the chunk's start, as a walk's first block: what the walk adds up to its
    // first stop or name that may be "_NULLFLAGS", and, shifted one bit up, how many 32-byte
    // blocks come before that (0x7FFF: too many), with the low bit set where it is such a name.
    std::vector<std::uint16_t> descriptorSum_;
    std::vector<std::uint16_t> descriptorBlocks_;
    // At level 7: what the walk adds up if it ends at its stop (0 where a bad block ends it),
    // the blocks it collects before the stop (0xFFFF: too many), and whether its stop is a bad
    // block.
    std::vector<std::uint16_t> level7Sum_;
    std::vector<std::uint16_t> level7Collected_;
    std::vector<std::uint16_t> level7BadStop_;
    // For the bounds, by position as a walk's first block, at both strides: the blocks before
    // the first that stops a walk, marks a name or may be "_NULLFLAGS" (saturated), and the
    // running sum of the lengths from the back along its residue.
    std::vector<std::uint16_t> descriptorClear_;
    std::vector<std::uint32_t> descriptorSums_;
    std::vector<std::uint16_t> level7Clear_;
    std::vector<std::uint32_t> level7Sums_;
};

} // namespace salvora
