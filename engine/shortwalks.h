// Most offsets that walk stop within a few blocks. Over a chunk of offsets, each block position
// is classified once, from the back, into what a walk from it adds up to its stop; an offset
// is then settled from its header and the tables at its first block, sixteen at a time,
// exactly as the one-offset search settles it. Walks that reach past the tables are left to
// that search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/tableformat.h"

namespace salvora {

class ShortWalks {
  public:
    // Past the chunk's last offset, the positions the tables cover; a walk reaching past them
    // is left.
    static constexpr std::size_t reach = 768;
    // Bytes and scan classes read past the chunk's last offset.
    static constexpr std::size_t bytesPast = reach + 64;

    // Works out the tables for the offsets from `from` up to `count` of a chunk, whose bytes
    // and scan classes are `bytes` and `classes`. Only with `wideVectors`.
    void build(const std::uint8_t *bytes, const std::uint8_t *classes, std::size_t from,
               std::size_t count);
    // The first offset from `from` up to `count` (built) whose record length may be the one
    // its walk adds up, or that is left to the one-offset search (a walk that reaches past the
    // tables, or a descriptor walk that meets a name that may be "_NULLFLAGS"); `count` when
    // there is none. Every offset before it fails without acceptance.
    std::size_t firstLeft(const std::uint8_t *bytes, std::size_t from, std::size_t count,
                          std::uint64_t fileSize) const;

  private:
    std::uint32_t leftOfSixteen(const std::uint8_t *bytes, std::size_t at,
                                std::uint64_t fileSize) const;

    // By position from the chunk's start, as a walk's first block: what the walk adds up to its
    // stop, and how many 32-byte blocks come before the stop (0xFFFF: too many, or unsure).
    std::vector<std::uint16_t> descriptorSum_;
    std::vector<std::uint16_t> descriptorBlocks_;
    // At level 7: what the walk adds up if it ends at its stop (0 where a bad block ends it),
    // the blocks it collects before the stop (0xFFFF: too many), and whether its stop is a bad
    // block.
    std::vector<std::uint16_t> level7Sum_;
    std::vector<std::uint16_t> level7Collected_;
    std::vector<std::uint16_t> level7BadStop_;
};

} // namespace salvora
