// What the header search's filter asks of each byte, as bits, worked out for a stretch of bytes
// at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/tableformat.h"

namespace salvora {

enum ScanClass : std::uint8_t {
    letterClass = 1,     // an accepted type letter
    underscoreClass = 2, // may start a name like "_NULLFLAGS"
    level7Class = 4,     // a level 7 table type
    smallClass = 8,      // below 0x40
    oneClass = 16,
    zeroClass = 32,
};

constexpr std::uint8_t scanClassOf(std::uint8_t b) {
    return static_cast<std::uint8_t>(
        (acceptedTypeLetters[b] ? letterClass : 0) | (b == '_' ? underscoreClass : 0) |
        (isLevel7Type(b) ? level7Class : 0) | (b < 0x40 ? smallClass : 0) |
        (b == 1 ? oneClass : 0) | (b == 0 ? zeroClass : 0));
}

// The accepted type letters by nibbles, for tests of many bytes at once: a byte is one when the
// entries for its low and its high nibble share a bit.
struct LetterNibbles {
    std::array<std::uint8_t, 16> low{};
    std::array<std::uint8_t, 16> high{};
};
inline constexpr LetterNibbles letterNibbles = [] {
    LetterNibbles tables;
    std::uint8_t nextBit = 1;
    for (unsigned high = 0; high < 16; ++high) {
        bool any = false;
        for (unsigned low = 0; low < 16; ++low) {
            if (acceptedTypeLetters[high << 4 | low]) {
                tables.low[low] |= nextBit;
                any = true;
            }
        }
        if (any) {
            tables.high[high] = nextBit;
            nextBit = static_cast<std::uint8_t>(nextBit << 1);
        }
    }
    return tables;
}();
static_assert([] {
    for (unsigned b = 0; b < 256; ++b)
        if (((letterNibbles.low[b & 15] & letterNibbles.high[b >> 4]) != 0) !=
            acceptedTypeLetters[b])
            return false;
    return true;
}());

// Whether the processor has 256-bit integer vectors (AVX2), for code that has a version for
// them, and they are allowed. Tests of the other version disallow them, between searches.
bool wideVectors();
void allowWideVectors(bool allowed);

// classes[k] = scanClassOf(bytes[k]) for every k below `count`.
void classifyForScan(const std::uint8_t *bytes, std::size_t count, std::uint8_t *classes);

} // namespace salvora
