// The per-field tests of the record checks.
//
// Every test and repair stays inside the record. A field that a damaged descriptor list lets
// run past the record's end is judged by the bytes it has there: each byte that is present
// must pass its own rule, missing bytes are neither judged nor written, and a value that needs
// all of its bytes (a date-time's day number) cannot be read and passes. A damaged descriptor
// list then never costs every record of the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/memofile.h"
#include "engine/tableformat.h"

namespace salvora {

// What a logical field may hold: true as T or Y, false as F or N, in either case, and "not
// set" as '?' or a blank. dBASE writes Y and N and lower case too, so these are values, not
// damage.
constexpr bool isLogicalValue(std::uint8_t b) {
    switch (b) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
    case 'F':
    case 'f':
    case 'N':
    case 'n':
    case '?':
    case ' ':
        return true;
    default:
        return false;
    }
}

// Any other byte becomes a blank.
void repairLogical(std::span<std::uint8_t> record, std::size_t offset);

// Eight bytes YYYYMMDD from `offset`, whatever the field's length; eight blanks pass, and so do
// eight NUL bytes, the empty date of several writers.
bool isValidDate(std::span<const std::uint8_t> record, std::size_t offset);

// The day number of a date-time field must fall between the years 1900 and 3000; blanks in its
// place are an empty value, as eight blanks are for a date.
bool isValidDateTime(std::span<const std::uint8_t> record, std::size_t offset,
                     std::uint8_t tableType);
bool dayNumberInRange(std::int32_t dayNumber, std::uint8_t tableType);
// The day number as stored (four bytes, little-endian).
bool isValidDayWord(std::uint32_t stored, std::uint8_t tableType);

// Blanks, digits and points; a minus sign only where no digit stands left of it.
bool isValidNumber(std::span<const std::uint8_t> record, std::size_t offset, std::size_t length);

// The forms writers store beyond that: padding of NUL bytes instead of blanks, a field filled
// with '*' (the overflow marker), and exponent notation (1.3945052E+02). Asked only of fields
// that fail `isValidNumber`.
bool isWriterNumber(std::span<const std::uint8_t> record, std::size_t offset, std::size_t length);

// True when the field refers to a block that is not a sound memo; the reference has then been
// cleared (ten blanks, or a binary zero for other lengths).
bool clearInvalidMemoReference(std::span<std::uint8_t> record, const FieldDescriptor &field,
                               MemoFile &memo, std::uint8_t tableType);

} // namespace salvora
