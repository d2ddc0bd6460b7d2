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

// Anything but 'T' or 'F' becomes a blank.
void repairLogical(std::span<std::uint8_t> record, std::size_t offset);

// Eight bytes YYYYMMDD from `offset`, whatever the field's length; eight blanks pass.
bool isValidDate(std::span<const std::uint8_t> record, std::size_t offset);

// The day number of a date-time field must fall between the years 1900 and 3000.
bool isValidDateTime(std::span<const std::uint8_t> record, std::size_t offset,
                     std::uint8_t tableType);
bool dayNumberInRange(std::int32_t dayNumber, std::uint8_t tableType);

// Blanks, digits and points; a minus sign only where no digit stands left of it.
bool isValidNumber(std::span<const std::uint8_t> record, std::size_t offset, std::size_t length);

// True when the field refers to a block that is not a sound memo; the reference has then been
// cleared (ten blanks, or a binary zero for other lengths).
bool clearInvalidMemoReference(std::span<std::uint8_t> record, const FieldDescriptor &field,
                               MemoFile &memo, std::uint8_t tableType);

} // namespace salvora
