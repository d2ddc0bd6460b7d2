#include "engine/descriptorrepair.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "engine/bufferedio.h"
#include "engine/recordsample.h"
#include "engine/tableformat.h"

namespace salvora {

namespace {

// Records looked at to tell the lost field's type.
constexpr std::uint64_t typeSampleRecords = 200;

bool isDigit(std::uint8_t b) {
    return b >= '0' && b <= '9';
}

// The type the column's bytes show in the records from `start`.
char typeOfColumn(WindowReader &reader, std::uint64_t start, std::uint32_t recordLength,
                  std::uint32_t offset, std::uint32_t length, std::uint8_t &decimals) {
    bool number = true, date = length == 8, logical = length == 1, anyValue = false;
    int point = -1;
    std::uint64_t records = (reader.fileSize() - start) / recordLength;
    records = std::min(records, typeSampleRecords);
    for (std::uint64_t r = 0; r < records; ++r) {
        const std::uint8_t *record = reader.view(start + r * recordLength, recordLength);
        if (record[0] != ' ' && record[0] != '*')
            continue; // a damaged record says nothing
        const std::uint8_t *at = record + offset;
        bool blank = std::all_of(at, at + length, [](std::uint8_t b) { return b == ' '; });
        if (blank)
            continue;
        anyValue = true;
        for (std::uint32_t i = 0; i < length; ++i) {
            std::uint8_t b = at[i];
            if (!(isDigit(b) || b == ' ' || b == '-' || b == '.'))
                number = false;
            if (b == '.') {
                if (point >= 0 && point != static_cast<int>(i))
                    number = false;
                point = static_cast<int>(i);
            }
        }
        if (date && !std::all_of(at, at + 8, isDigit))
            date = false;
        if (logical && std::strchr("TFYNtfyn?", at[0]) == nullptr)
            logical = false;
    }
    decimals = 0;
    if (!anyValue)
        return 'C';
    if (logical)
        return 'L';
    if (date)
        return 'D';
    if (number && length <= 20) {
        if (point >= 0)
            decimals = static_cast<std::uint8_t>(length - 1 - static_cast<std::uint32_t>(point));
        return 'N';
    }
    return 'C';
}

} // namespace

RepairedDescriptors repairLostDescriptor(WindowReader &reader, const TableHeader &header) {
    RepairedDescriptors none;
    const std::uint8_t type = header.type();
    const std::uint32_t headerLength = header.headerLength();
    const std::uint32_t recordLength = header.recordLength();
    if (isLevel7Type(type) || recordLength < 2 || headerLength > reader.fileSize())
        return none;
    const bool backlink = isVisualFoxProType(type);
    const std::uint32_t listEnd = headerLength - 1 - (backlink ? 264 - 1 : 0);
    if (headerLength < tableHeaderSize + fieldDescriptorSize + 1 + (backlink ? 263 : 0) ||
        (listEnd - tableHeaderSize) % fieldDescriptorSize != 0 ||
        reader.view(listEnd, 1)[0] != headerTerminator)
        return none;
    const std::uint32_t count = (listEnd - tableHeaderSize) / fieldDescriptorSize;
    const std::uint8_t *list = reader.view(tableHeaderSize, std::size_t{count} * 32);
    std::vector<FieldDescriptor> fields(count);
    std::int64_t lost = -1;
    std::uint32_t known = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        std::memcpy(fields[i].bytes.data(), list + std::size_t{i} * 32, 32);
        if (isAcceptedFieldType(fields[i]) && fields[i].bytes[16] != 0 &&
            fields[i].bytes[0] > ' ') {
            known += fieldLength(fields[i]);
            continue;
        }
        if (lost >= 0)
            return none; // two lost descriptors leave the widths open
        lost = i;
    }
    // With no other descriptor left, nothing confirms that the list is the table's.
    if (lost < 0 || count < 2 || known >= recordLength || recordLength - known > 255)
        return none;
    if (!sampleFlags(reader, headerLength, recordLength).passes())
        return none;

    std::uint32_t displacement = 1;
    for (std::uint32_t i = 0; i < count; ++i) {
        FieldDescriptor &field = fields[i];
        if (static_cast<std::int64_t>(i) == lost) {
            std::uint32_t width = recordLength - known;
            field.bytes.fill(0);
            // A header length is 16 bits wide: at most 2047 descriptors, four digits.
            std::string name = "FIELD" + std::to_string(i + 1);
            std::memcpy(field.bytes.data(), name.data(), std::min<std::size_t>(name.size(), 10));
            std::uint8_t decimals = 0;
            field.bytes[11] = static_cast<std::uint8_t>(
                typeOfColumn(reader, headerLength, recordLength, displacement, width, decimals));
            field.bytes[16] = static_cast<std::uint8_t>(width);
            field.bytes[17] = decimals;
        }
        field.setDisplacement(static_cast<std::uint16_t>(displacement));
        displacement += fieldLength(field);
    }
    RepairedDescriptors result;
    result.fields = std::move(fields);
    result.repaired.push_back(static_cast<std::uint32_t>(lost));
    return result;
}

FieldDescriptor descriptorAsWritten(const FieldDescriptor &field, std::uint8_t tableType) {
    FieldDescriptor out = field;
    if (!isVisualFoxProType(tableType))
        out.setDisplacement(0);
    return out;
}

} // namespace salvora
