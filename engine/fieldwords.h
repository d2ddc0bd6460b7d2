// The date and number tests of fieldchecks.h, eight bytes at a time. Every record of a table
// passes them; byte by byte they cost more than reading and writing the record.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace salvora::fieldwords {

using Word = std::uint64_t;

inline constexpr Word ones = 0x0101010101010101u;
inline constexpr Word highBits = ones * 0x80;
inline constexpr Word lowBits = ones * 0x7F;
inline constexpr Word blanks = ones * ' ';

// Byte k of the word is p[k].
inline Word loadWord(const std::uint8_t *p) {
    Word word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        Word swapped = 0;
        for (int k = 0; k < 8; ++k, word >>= 8)
            swapped = swapped << 8 | (word & 0xFF);
        word = swapped;
    }
    return word;
}

// The high bit of every byte that equals `c`, exactly (no borrow runs into the next byte).
inline Word bytesEqual(Word word, std::uint8_t c) {
    Word x = word ^ (ones * c);
    return ~(((x & lowBits) + lowBits) | x) & highBits;
}

// The high bit of every byte that lies between its own bounds in `lowest` and `highest`, each
// byte of which is below 0x80.
inline Word bytesBetween(Word word, Word lowest, Word highest) {
    Word low = word & lowBits;
    Word atLeast = low + (highBits - lowest);
    Word above = low + (highBits - highest - ones);
    return atLeast & ~above & ~word & highBits;
}

// YYYYMMDD with month 00-12 and day 00-31, or eight blanks, or eight NUL bytes.
inline bool isValidDateWord(Word date) {
    constexpr Word highest = 0x3933393139393939u; // "99991939", first byte lowest
    if (date == blanks || date == 0)
        return true;
    auto byteAt = [date](int k) { return static_cast<std::uint8_t>(date >> (8 * k)); };
    return bytesBetween(date, ones * '0', highest) == highBits &&
           !(byteAt(4) == '1' && byteAt(5) > '2') && !(byteAt(6) == '3' && byteAt(7) > '1');
}

// One word of a number. `leftDigit` has the high bit of byte 0 set when the byte before the
// word is a digit of the same field, and is set for the next word.
inline bool numberWordPasses(Word word, Word &leftDigit) {
    Word digits = bytesBetween(word, ones * '0', ones * '9');
    Word minus = bytesEqual(word, '-');
    Word allowed = digits | minus | bytesEqual(word, ' ') | bytesEqual(word, '.');
    Word digitsLeft = digits << 8 | leftDigit;
    leftDigit = digits >> 56;
    return allowed == highBits && (minus & digitsLeft) == 0;
}

// Sixteen bytes as one vector; compilers without vector units split it into words.
typedef std::uint8_t Lanes __attribute__((vector_size(16)));

inline Lanes loadLanes(const std::uint8_t *p) {
    Lanes lanes;
    std::memcpy(&lanes, p, sizeof lanes);
    return lanes;
}

inline bool anyLaneSet(Lanes lanes) {
    Word halves[2];
    std::memcpy(halves, &lanes, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

inline Lanes digitLanes(Lanes bytes) {
    return reinterpret_cast<Lanes>(static_cast<Lanes>(bytes - '0') < 10);
}

// Sixteen bytes of a number, with their digit lanes and those of the bytes one place to the
// left.
inline bool numberLanesPass(Lanes bytes, Lanes digits, Lanes digitsLeft) {
    Lanes allowed = digits | reinterpret_cast<Lanes>(bytes == ' ') |
                    reinterpret_cast<Lanes>(bytes == '.') |
                    (reinterpret_cast<Lanes>(bytes == '-') & ~digitsLeft);
    return !anyLaneSet(~allowed);
}

// Lane k takes lane k - 1; lane 0, the field's first byte, has nothing to its left.
inline Lanes shiftedUp(Lanes lanes) {
    return __builtin_shufflevector(lanes, Lanes{}, 16, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                                   14);
}

// Bytes a number test sixteen bytes at a time may read from the field's start.
inline std::size_t laneRoom(std::size_t length) {
    return (length + 15) / 16 * 16;
}

// The number test over `length` bytes from `field`, of which `laneRoom(length)` may be read.
inline bool isValidNumberLanes(const std::uint8_t *field, std::size_t length) {
    // Blanks pass and are no digits: lanes after the field change nothing.
    static constexpr std::uint8_t inField[32] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    for (std::size_t k = 0; k < length; k += 16) {
        Lanes bytes = loadLanes(field + k);
        if (std::size_t rest = length - k; rest < 16) {
            Lanes keep = loadLanes(inField + 16 - rest);
            bytes = (bytes & keep) | (~keep & ' ');
        }
        Lanes digits = digitLanes(bytes);
        Lanes digitsLeft = k == 0 ? shiftedUp(digits) : digitLanes(loadLanes(field + k - 1));
        if (!numberLanesPass(bytes, digits, digitsLeft))
            return false;
    }
    return true;
}

// The same eight bytes at a time, for fields too near the end of the record for sixteen.
inline bool isValidNumberWords(const std::uint8_t *field, std::size_t length, std::size_t room) {
    Word leftDigit = 0;
    std::size_t k = 0;
    for (; k + 8 <= length; k += 8)
        if (!numberWordPasses(loadWord(field + k), leftDigit))
            return false;
    std::size_t rest = length - k;
    if (rest == 0)
        return true;
    Word word = 0;
    if (room - k >= 8) {
        word = loadWord(field + k);
    } else {
        for (std::size_t j = rest; j-- > 0;)
            word = word << 8 | field[k + j];
    }
    // Blanks pass and are no digits: the bytes after the field change nothing.
    Word keep = (Word{1} << (8 * rest)) - 1;
    return numberWordPasses((word & keep) | (blanks & ~keep), leftDigit);
}

} // namespace salvora::fieldwords
