#include "engine/tableformat.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace salvora {

namespace {

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool nameIsNullFlags(const std::uint8_t *name) {
    static constexpr char expected[] = "_NULLFLAGS";
    // Compared like a C string over at most 11 characters: the name must end after the ten.
    for (std::size_t i = 0; i < 11; ++i) {
        char want = i < 10 ? expected[i] : '\0';
        char have = upperAscii(static_cast<char>(name[i]));
        if (have != want)
            return false;
        if (have == '\0')
            return true;
    }
    return true;
}

} // namespace

void TableHeader::setDate(int calendarYear, int month, int day) {
    bytes[1] = static_cast<std::uint8_t>((calendarYear - 1900) & 0xFF);
    bytes[2] = static_cast<std::uint8_t>(month);
    bytes[3] = static_cast<std::uint8_t>(day);
}

std::string FieldDescriptor::name() const {
    const auto *begin = reinterpret_cast<const char *>(bytes.data());
    const char *end = static_cast<const char *>(std::memchr(begin, 0, 11));
    return std::string(begin, end ? end : begin + 11);
}

bool tableHasMemo(std::uint8_t type, std::uint8_t tableFlags) {
    if (isVisualFoxProType(type) && (tableFlags & tableFlagHasMemo) != 0)
        return true;
    return type == 0x8C || type == 0xF5 || type == 0x8B || type == 0x83 || (type & 0x88) != 0;
}

bool usesFoxProMemo(std::uint8_t type, std::uint8_t tableFlags) {
    return (isVisualFoxProType(type) && (tableFlags & tableFlagHasMemo) != 0) || type == 0xF5;
}

const char *tableTypeName(std::uint8_t type) {
    switch (type) {
    case 0x02:
        return "FoxBase";
    case 0x03:
        return "FoxBase+/dBASE III PLUSE, no memo";
    case 0x30:
        return "Visual FoxPro";
    case 0x32:
        return "Visual FoxPro with Varchar or Varbinary";
    case 0x31:
        return "Visual Foxpro with autoincrement";
    case 0x43:
        return "dBASE IV SQL table, no memo";
    case 0x83:
        return "FoxBase+/dBASE III PLUSE, with memo";
    case 0x8B:
        return "dBASE IV w. memo";
    case 0xF5:
        return "Foxpro w. memo";
    case 0xE5:
        return "HiPer-Six (SMT memo file)";
    default:
        return isLevel7Type(type) ? "Visual Dbase 7" : nullptr;
    }
}

namespace {} // namespace

bool isAcceptedFieldType(const std::uint8_t *descriptorBytes) {
    return acceptedTypeLetters[descriptorBytes[11]] ||
           (descriptorBytes[0] == '_' && nameIsNullFlags(descriptorBytes));
}

bool isAcceptedFieldType(const FieldDescriptor &field) {
    return isAcceptedFieldType(field.bytes.data());
}

std::uint32_t fieldLength(const std::uint8_t *descriptorBytes) {
    if (descriptorBytes[11] == 'C')
        return static_cast<std::uint32_t>(descriptorBytes[17]) * 256 + descriptorBytes[16];
    return descriptorBytes[16];
}

std::uint32_t fieldLength(const FieldDescriptor &field) {
    return fieldLength(field.bytes.data());
}

std::uint32_t getMemoBlockNumber(std::span<const std::uint8_t> record,
                                 const FieldDescriptor &field) {
    std::size_t offset = field.displacement();
    if (offset >= record.size())
        return 0;
    std::size_t length = std::min<std::size_t>(fieldLength(field), record.size() - offset);
    const std::uint8_t *p = record.data() + offset;
    if (fieldLength(field) == 4)
        return length == 4 ? readLe32(p) : 0;

    // Decimal text as a C integer conversion reads it, but never past the field.
    std::size_t i = 0;
    while (i < length && (p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < length && (p[i] == '+' || p[i] == '-')) {
        negative = p[i] == '-';
        ++i;
    }
    std::uint64_t value = 0;
    for (; i < length && p[i] >= '0' && p[i] <= '9'; ++i)
        value = std::min<std::uint64_t>(value * 10 + (p[i] - '0'), 0x7FFFFFFF);
    std::uint32_t number = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - number) : number;
}

} // namespace salvora
