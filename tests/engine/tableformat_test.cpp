#include <gtest/gtest.h>

#include "engine/tableformat.h"

namespace salvora {
namespace {

FieldDescriptor descriptor(const char *name, char type, std::uint8_t length,
                           std::uint8_t decimals = 0) {
    FieldDescriptor d;
    for (std::size_t i = 0; name[i] && i < 11; ++i)
        d.bytes[i] = static_cast<std::uint8_t>(name[i]);
    d.bytes[11] = static_cast<std::uint8_t>(type);
    d.bytes[16] = length;
    d.bytes[17] = decimals;
    return d;
}

TEST(TableFormat, CharacterFieldsTakeTheirHighLengthByteFromTheDecimalByte) {
    EXPECT_EQ(fieldLength(descriptor("NAME", 'C', 0x2C, 0x01)), 300u);
    FieldDescriptor numeric = descriptor("AMOUNT", 'N', 0x2C, 0x01);
    EXPECT_EQ(fieldLength(numeric), 44u);
    EXPECT_EQ(numeric.decimalCount(), 1);
}

TEST(TableFormat, TypeNames) {
    EXPECT_STREQ(tableTypeName(0x03), "FoxBase+/dBASE III PLUSE, no memo");
    EXPECT_STREQ(tableTypeName(0x31), "Visual Foxpro with autoincrement");
    EXPECT_STREQ(tableTypeName(0xE5), "HiPer-Six (SMT memo file)");
    // Level 7 is recognised by its low bits, whatever the rest says.
    EXPECT_STREQ(tableTypeName(0x8C), "Visual Dbase 7");
    EXPECT_STREQ(tableTypeName(0x04), "Visual Dbase 7");
    EXPECT_EQ(tableTypeName(0x00), nullptr);
    EXPECT_EQ(tableTypeName(0x05), nullptr);
}

TEST(TableFormat, MemoFilePresenceAndKind) {
    EXPECT_FALSE(tableHasMemo(0x30, 0x00));
    EXPECT_TRUE(tableHasMemo(0x30, 0x02));
    EXPECT_TRUE(usesFoxProMemo(0x30, 0x02));
    EXPECT_FALSE(usesFoxProMemo(0x30, 0x00));
    EXPECT_TRUE(usesFoxProMemo(0xF5, 0x00));
    EXPECT_TRUE(tableHasMemo(0x83, 0));
    EXPECT_FALSE(usesFoxProMemo(0x83, 0));
    EXPECT_TRUE(tableHasMemo(0x8C, 0));
    EXPECT_FALSE(tableHasMemo(0x03, 0));
}

TEST(TableFormat, AcceptedFieldTypes) {
    for (char letter : std::string("CNDLFMTIYB+PGO@QVW"))
        EXPECT_TRUE(isAcceptedFieldType(descriptor("F", letter, 1))) << letter;
    EXPECT_FALSE(isAcceptedFieldType(descriptor("F", 'X', 1)));
    EXPECT_FALSE(isAcceptedFieldType(descriptor("F", '\0', 1)));
    // The system field of Visual FoxPro is accepted by its name alone, in any letter case.
    EXPECT_TRUE(isAcceptedFieldType(descriptor("_NULLFLAGS", '0', 1)));
    EXPECT_TRUE(isAcceptedFieldType(descriptor("_nullFlags", 'X', 1)));
    EXPECT_FALSE(isAcceptedFieldType(descriptor("_NULLFLAG", '0', 1)));
    FieldDescriptor longer = descriptor("_NULLFLAGS", '0', 1);
    longer.bytes[10] = 'X';
    EXPECT_FALSE(isAcceptedFieldType(longer));
}

TEST(TableFormat, MemoBlockNumbers) {
    FieldDescriptor text = descriptor("NOTES", 'M', 10);
    text.setDisplacement(1);
    auto record = [](const std::string &s) {
        return std::vector<std::uint8_t>(s.begin(), s.end());
    };
    EXPECT_EQ(getMemoBlockNumber(record("        123"), text), 123u);
    EXPECT_EQ(getMemoBlockNumber(record("           "), text), 0u);
    EXPECT_EQ(getMemoBlockNumber(record(" 12ab      "), text), 12u);
    EXPECT_EQ(getMemoBlockNumber(record(" +7        "), text), 7u);
    // Digits run to the end of the field and no further, whatever follows in the record.
    EXPECT_EQ(getMemoBlockNumber(record(" 12345678909999"), text), 1234567890u);

    FieldDescriptor binary = descriptor("PIC", 'G', 4);
    binary.setDisplacement(1);
    std::vector<std::uint8_t> r = {' ', 0x10, 0x27, 0x00, 0x00};
    EXPECT_EQ(getMemoBlockNumber(r, binary), 10000u);
    // A field that a damaged list places past the record's end has no memo.
    binary.setDisplacement(3);
    EXPECT_EQ(getMemoBlockNumber(r, binary), 0u);
}

TEST(TableFormat, YearByteWrapsModulo256) {
    TableHeader h;
    h.setDate(2000, 1, 2);
    EXPECT_EQ(h.year(), 100);
    h.setDate(1999, 12, 31);
    EXPECT_EQ(h.year(), 99);
    h.setDate(2156, 1, 1);
    EXPECT_EQ(h.year(), 0);
}

} // namespace
} // namespace salvora
