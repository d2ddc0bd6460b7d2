// What the header search's filter asks of each byte, as bits, worked out for a stretch of bytes
// at a time.
#pragma once

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

// Whether the processor has 256-bit integer vectors (AVX2), for code that has a version for them.
bool wideVectors();

// classes[k] = scanClassOf(bytes[k]) for every k below `count`.
void classifyForScan(const std::uint8_t *bytes, std::size_t count, std::uint8_t *classes);

} // namespace salvora
