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

// Sixteen bytes at a time, a class is the bits that both its low and its high nibble allow
// (two table look-ups a vector). Every class but the letters is such a product; the letters
// take three bits, one for each high nibble they have (2, 4 and 5), which fold into one.
inline constexpr std::uint8_t foldedLetters = 0xC1;

struct NibbleTables {
    std::array<std::uint8_t, 16> low{};
    std::array<std::uint8_t, 16> high{};
};

inline constexpr NibbleTables nibbleTables = [] {
    NibbleTables tables;
    for (unsigned b = 0; b < 256; ++b) {
        if (!acceptedTypeLetters[b])
            continue;
        const unsigned high = b >> 4;
        const std::uint8_t bit = high == 2 ? 0x01 : high == 4 ? 0x40 : high == 5 ? 0x80 : 0;
        tables.low[b & 15] |= bit;
        tables.high[high] |= bit;
    }
    tables.low[15] |= underscoreClass;
    tables.high[5] |= underscoreClass;
    for (unsigned n = 0; n < 16; ++n) {
        tables.high[n] |= level7Class;
        tables.low[n] |= smallClass;
    }
    tables.low[4] |= level7Class;
    tables.low[12] |= level7Class;
    for (unsigned n = 0; n < 4; ++n)
        tables.high[n] |= smallClass;
    tables.low[1] |= oneClass;
    tables.low[0] |= zeroClass;
    tables.high[0] |= oneClass | zeroClass;
    return tables;
}();

// Whether the processor has 256-bit integer vectors (AVX2), for code that has a version for
// them, and they are allowed. Tests of the other version disallow them, between searches.
bool wideVectors();
void allowWideVectors(bool allowed);

// classes[k] = scanClassOf(bytes[k]) for every k below `count`.
void classifyForScan(const std::uint8_t *bytes, std::size_t count, std::uint8_t *classes);

} // namespace salvora
