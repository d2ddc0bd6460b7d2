// Byte layout of dBASE-family tables: the 32-byte header, the 32-byte field descriptor and
// the lookups every other part of the engine shares.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace salvora {

inline std::uint16_t readLe16(const std::uint8_t *p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t readLe32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void writeLe16(std::uint8_t *p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void writeLe32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline constexpr std::size_t tableHeaderSize = 32;
inline constexpr std::size_t fieldDescriptorSize = 32;
inline constexpr std::size_t backlinkSize = 263;
inline constexpr std::uint8_t headerTerminator = 0x0D;
inline constexpr std::uint8_t endOfFileMarker = 0x1A;
// Level 7 tables: a longer header, and longer descriptors.
inline constexpr std::size_t level7HeaderSize = 68;
inline constexpr std::size_t level7DescriptorSize = 48;

// The header search: a candidate with more descriptors than this is no header, and the
// conversion of a level 7 list reads at most this many descriptors.
inline constexpr std::int32_t fieldCountLimit = 500;
inline constexpr std::size_t level7ReadLimit = 4096;

inline constexpr std::uint8_t tableFlagStructuralIndex = 0x01;
inline constexpr std::uint8_t tableFlagHasMemo = 0x02;

struct TableHeader {
    std::array<std::uint8_t, tableHeaderSize> bytes{};

    std::uint8_t type() const { return bytes[0]; }
    void setType(std::uint8_t t) { bytes[0] = t; }
    std::uint8_t year() const { return bytes[1]; }
    std::uint8_t month() const { return bytes[2]; }
    std::uint8_t day() const { return bytes[3]; }
    void setDate(int calendarYear, int month, int day);
    std::uint32_t recordCount() const { return readLe32(&bytes[4]); }
    void setRecordCount(std::uint32_t n) { writeLe32(&bytes[4], n); }
    std::uint16_t headerLength() const { return readLe16(&bytes[8]); }
    void setHeaderLength(std::uint16_t n) { writeLe16(&bytes[8], n); }
    std::uint16_t recordLength() const { return readLe16(&bytes[10]); }
    void setRecordLength(std::uint16_t n) { writeLe16(&bytes[10], n); }
    std::uint8_t tableFlags() const { return bytes[28]; }
    void setTableFlags(std::uint8_t f) { bytes[28] = f; }
    std::uint8_t codePage() const { return bytes[29]; }
    void setCodePage(std::uint8_t mark) { bytes[29] = mark; }
};

struct FieldDescriptor {
    std::array<std::uint8_t, fieldDescriptorSize> bytes{};

    std::string name() const; // up to the first NUL, at most 11 characters
    char type() const { return static_cast<char>(bytes[11]); }
    std::uint16_t displacement() const { return readLe16(&bytes[12]); }
    void setDisplacement(std::uint16_t d) { writeLe16(&bytes[12], d); }
    std::uint8_t decimalCount() const { return bytes[17]; }
};

// The type groups used throughout the engine.
// 0x30, 0x31, 0x32: they carry the backlink.
inline bool isVisualFoxProType(std::uint8_t type) {
    return type == 0x30 || type == 0x31 || type == 0x32;
}
constexpr bool isLevel7Type(std::uint8_t type) {
    return (type & 7) == 4;
}
bool tableHasMemo(std::uint8_t type, std::uint8_t tableFlags);
bool usesFoxProMemo(std::uint8_t type, std::uint8_t tableFlags);

// Display name of a table type, or nullptr when the type is unknown.
const char *tableTypeName(std::uint8_t type);

// The type letters a field may have; the header search asks this at every byte offset.
inline constexpr std::array<bool, 256> acceptedTypeLetters = [] {
    std::array<bool, 256> table{};
    for (const char *p = "CNDLFMTIYB+PGO@QVW"; *p; ++p)
        table[static_cast<unsigned char>(*p)] = true;
    return table;
}();

bool isAcceptedFieldType(const FieldDescriptor &field);
// The raw test on a descriptor's bytes (name at 0-10, type letter at 11), shared with scans
// that look at bytes in place.
bool isAcceptedFieldType(const std::uint8_t *descriptorBytes);

// 16-bit for character fields (decimal byte is the high byte), the length byte otherwise.
std::uint32_t fieldLength(const FieldDescriptor &field);
std::uint32_t fieldLength(const std::uint8_t *descriptorBytes);

// Block number a memo field refers to; 0 when it has none. Reads only inside `record`.
std::uint32_t getMemoBlockNumber(std::span<const std::uint8_t> record,
                                 const FieldDescriptor &field);

} // namespace salvora
