#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/memofile.h"
#include "engine/recordchecks.h"
#include "engine/recovery.h"
#include "tests/support/enginerun.h"
#include "tests/support/memobuilder.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::memoReference;
using testing::TableBuilder;

std::string le32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

std::string text(const Bytes &b) {
    return std::string(b.begin(), b.end());
}

struct FieldSpec {
    char type;
    std::uint16_t length;
};

class RecordChecksTest : public ::testing::Test {
  protected:
    // Fields laid end to end after the deletion flag, as the analysis leaves them.
    void table(std::uint8_t type, const std::vector<FieldSpec> &fields) {
        job.header.setType(type);
        job.fields.clear();
        recordLength = 1;
        for (const FieldSpec &f : fields)
            place(f.type, static_cast<std::uint16_t>(recordLength), f.length);
    }
    // A field wherever a damaged descriptor list puts it; the record length follows the
    // fields laid end to end only while the last one ends the record.
    void place(char type, std::uint16_t displacement, std::uint16_t length) {
        FieldDescriptor field;
        field.bytes[11] = static_cast<std::uint8_t>(type);
        field.setDisplacement(displacement);
        field.bytes[16] = static_cast<std::uint8_t>(length);
        if (type == 'C')
            field.bytes[17] = static_cast<std::uint8_t>(length >> 8);
        job.fields.push_back(field);
        job.fieldCount = static_cast<std::int32_t>(job.fields.size());
        recordLength = std::max<std::size_t>(recordLength, std::size_t{displacement} + length);
        job.header.setRecordLength(static_cast<std::uint16_t>(recordLength));
    }
    Bytes record(const std::string &values, char flag = ' ') const {
        Bytes b(recordLength, ' ');
        b[0] = static_cast<std::uint8_t>(flag);
        std::copy_n(values.begin(), std::min(values.size(), recordLength - 1), b.begin() + 1);
        return b;
    }
    RecordVerdict check(Bytes &record, std::uint32_t index = 0) {
        return checkRecord({record.data(), record.size()}, index, options, job, duplicates);
    }
    // Checks the first `length` bytes of `buffer` as the record.
    RecordVerdict checkFirst(Bytes &buffer, std::size_t length) {
        return checkRecord({buffer.data(), length}, 0, options, job, duplicates);
    }
    void openMemo(const Bytes &file, std::uint8_t tableFlags = 0) {
        testing::writeFile(dir.file("t.memo"), file);
        MemoTableInfo info{job.header.type(), tableFlags, dir.file("t.dbf")};
        job.header.setTableFlags(tableFlags);
        job.sourceMemo = salvora::openMemo(platform::nativePlatform(), dir.file("t.memo"),
                                           job.header.type(), false, true, info);
        ASSERT_TRUE(job.sourceMemo->isOpen());
    }

    testing::TempDir dir;
    RecoveryJob job;
    RecoveryOptions options;
    DuplicateTable duplicates;
    std::size_t recordLength = 1;
};

TEST_F(RecordChecksTest, PackDropsDeletedRecordsBeforeAnythingElse) {
    table(0x03, {{'D', 8}});
    options.pack = 1;
    options.recoverDeleted = 1; // pack wins: nothing is undeleted
    Bytes deleted = record("20231399", '*');
    EXPECT_EQ(check(deleted), RecordVerdict::DroppedByFilter);
    EXPECT_EQ(deleted[0], '*');
    Bytes live = record("20230507");
    EXPECT_EQ(check(live), RecordVerdict::Keep);
    Bytes liveBadDate = record("2023x507");
    EXPECT_EQ(check(liveBadDate), RecordVerdict::Reject);
}

TEST_F(RecordChecksTest, EmptyFilterDropsRecordsOfBlanksAndZeroBytes) {
    table(0x03, {{'C', 4}, {'N', 3}});
    Bytes blank = record("");
    EXPECT_EQ(check(blank), RecordVerdict::Keep); // only when asked

    options.deleteEmpty = 1;
    for (char flag : {' ', '*', 'x'}) {
        Bytes blanks = record("", flag);
        EXPECT_EQ(check(blanks), RecordVerdict::DroppedByFilter) << flag;
        Bytes zeros = record(std::string("\0 \0\0  \0", 7), flag);
        EXPECT_EQ(check(zeros), RecordVerdict::DroppedByFilter) << flag;
    }
    Bytes oneByte = record("   x");
    EXPECT_EQ(check(oneByte), RecordVerdict::Keep);
    Bytes tab = record("\t");
    EXPECT_EQ(check(tab), RecordVerdict::Keep);

    table(0x03, {}); // a record of its deletion flag alone is empty
    Bytes flagOnly = record("");
    EXPECT_EQ(check(flagOnly), RecordVerdict::DroppedByFilter);
}

// A zeroed stretch of the file: only a record of NUL bytes from its flag on is no record.
TEST_F(RecordChecksTest, RecordsOfNothingButNulBytesAreDroppedAsZeroed) {
    table(0x30, {{'C', 4}, {'I', 4}, {'N', 3}});
    const struct {
        std::string bytes;
        RecordVerdict verdict;
    } cases[] = {
        {std::string(12, '\0'), RecordVerdict::Reject},
        {" " + std::string(11, '\0'), RecordVerdict::Keep},                       // a sound flag
        {std::string(5, '\0') + "x" + std::string(6, '\0'), RecordVerdict::Keep}, // one byte
    };
    for (const auto &c : cases) {
        Bytes r(c.bytes.begin(), c.bytes.end());
        EXPECT_EQ(check(r), c.verdict) << ::testing::PrintToString(c.bytes);
    }
}

TEST_F(RecordChecksTest, UndeletedRecordsAreTestedAndComparedLikeLiveOnes) {
    table(0x03, {{'C', 3}, {'D', 8}});
    options.recoverDeleted = 1;
    options.deleteDuplicates = 1;
    Bytes undeleted = record("abc20230507", '*');
    EXPECT_EQ(check(undeleted, 0), RecordVerdict::Keep);
    EXPECT_EQ(undeleted[0], ' ');
    Bytes again = record("abc20230507");
    EXPECT_EQ(check(again, 1), RecordVerdict::Reject);
    Bytes badDate = record("xyz2023x507", '*');
    EXPECT_EQ(check(badDate, 2), RecordVerdict::Reject);
    EXPECT_EQ(badDate[0], ' ');
}

TEST_F(RecordChecksTest, DuplicatesAreLiveRecordsWithTheSameValuesAsRead) {
    table(0x03, {{'C', 3}, {'L', 1}});
    options.deleteDuplicates = 1;
    struct Step {
        std::string values;
        char flag;
        RecordVerdict verdict;
        std::string written;
    };
    const Step steps[] = {
        // A deleted record is neither compared nor remembered.
        {"abcT", '*', RecordVerdict::Keep, "*abcT"},
        {"abcT", ' ', RecordVerdict::Keep, " abcT"},
        {"abcT", ' ', RecordVerdict::Reject, " abcT"},
        {"abcT", '*', RecordVerdict::Keep, "*abcT"},
        // The deletion flag is no part of the values; a stray flag is still repaired.
        {"abcT", 'x', RecordVerdict::Reject, " abcT"},
        // Values are compared as read, before the logical field is repaired.
        {"abcx", ' ', RecordVerdict::Keep, " abc "},
        {"abc ", ' ', RecordVerdict::Keep, " abc "},
        // Rejected as a duplicate, its tests stop after the first field.
        {"abcx", ' ', RecordVerdict::Reject, " abcx"},
        {"abd ", ' ', RecordVerdict::Keep, " abd "},
    };
    std::uint32_t index = 0;
    for (const Step &s : steps) {
        Bytes r = record(s.values, s.flag);
        EXPECT_EQ(check(r, index), s.verdict) << "record " << index;
        EXPECT_EQ(text(r), s.written) << "record " << index;
        ++index;
    }
    EXPECT_EQ(duplicates.count(), 4u);
}

TEST_F(RecordChecksTest, LogicalFieldsKeepEveryValueAndBlankAnythingElse) {
    table(0x03, {{'L', 1}});
    for (char c : std::string("TtYyFfNn? ")) {
        Bytes r = record(std::string(1, c));
        EXPECT_EQ(check(r), RecordVerdict::Keep);
        EXPECT_EQ(r[1], c);
    }
    for (char c : std::string("x1*\0\xff", 5)) {
        Bytes r = record(std::string(1, c));
        EXPECT_EQ(check(r), RecordVerdict::Keep) << static_cast<int>(c);
        EXPECT_EQ(r[1], ' ') << static_cast<int>(c);
    }
}

TEST_F(RecordChecksTest, FieldsAreTestedInOrderUntilOneRejects) {
    table(0x03, {{'D', 8}, {'L', 1}});
    Bytes dateFirst = record("2023x507y");
    EXPECT_EQ(check(dateFirst), RecordVerdict::Reject);
    EXPECT_EQ(dateFirst[9], 'y'); // never reached

    table(0x03, {{'L', 1}, {'D', 8}});
    Bytes logicalFirst = record("x2023x507");
    EXPECT_EQ(check(logicalFirst), RecordVerdict::Reject);
    EXPECT_EQ(logicalFirst[1], ' ');
}

TEST_F(RecordChecksTest, ADuplicateHasItsFirstFieldTestedEvenWhenLaterOnesAreNot) {
    options.deleteDuplicates = 1;
    table(0x03, {{'L', 1}, {'C', 2}, {'L', 1}});
    Bytes first = record("Tabx");
    EXPECT_EQ(check(first, 0), RecordVerdict::Keep);
    EXPECT_EQ(text(first), " Tab ");
    Bytes again = record("Tabx");
    EXPECT_EQ(check(again, 1), RecordVerdict::Reject);
    EXPECT_EQ(text(again), " Tabx");
    Bytes repaired = record("1abT");
    EXPECT_EQ(check(repaired, 2), RecordVerdict::Keep);
    Bytes repairedAgain = record("1abT");
    EXPECT_EQ(check(repairedAgain, 3), RecordVerdict::Reject);
    EXPECT_EQ(text(repairedAgain), "  abT");
}

TEST_F(RecordChecksTest, OneFieldListServesEveryRecordOfARun) {
    table(0x03, {{'C', 3}, {'D', 8}, {'N', 5}, {'L', 1}, {'C', 2}, {'N', 12}});
    RecordChecks checks(job, options, duplicates, nullptr, recordLength);
    const std::pair<std::string, RecordVerdict> records[] = {
        {"abc20230507  1.5xde-12345678.9", RecordVerdict::Keep},
        {"abc2023x507  1.5Tde         -1", RecordVerdict::Reject},
        {"abc         1-5 Tde123456789012", RecordVerdict::Reject},
        {"abc          1.5Fde12345678901-", RecordVerdict::Reject},
        {"   20231231-----Tde-.-.-.-.-.-.", RecordVerdict::Keep},
        {"   20231331-----Tde-.-.-.-.-.-.", RecordVerdict::Reject},
        {"   20231232-----Tde-.-.-.-.-.-.", RecordVerdict::Reject},
        {"   20230000-----Tde-.-.-.-.-.-.", RecordVerdict::Keep},
    };
    std::uint32_t index = 0;
    for (const auto &[values, verdict] : records) {
        Bytes planned = record(values), single = record(values);
        EXPECT_EQ(checks.check({planned.data(), planned.size()}, index), verdict) << values;
        EXPECT_EQ(checkRecord({single.data(), single.size()}, index, options, job, duplicates),
                  verdict)
            << values;
        EXPECT_EQ(planned, single) << values;
        ++index;
    }
}

TEST_F(RecordChecksTest, DeletionFlagIsBlankUnlessTheRecordIsDeleted) {
    table(0x03, {{'D', 8}});
    for (char flag : {'\0', 'x', '\x1A', ' '}) {
        Bytes good = record("20230507", flag);
        EXPECT_EQ(check(good), RecordVerdict::Keep);
        EXPECT_EQ(good[0], ' ');
        Bytes bad = record("2023x507", flag);
        EXPECT_EQ(check(bad), RecordVerdict::Reject);
        EXPECT_EQ(bad[0], ' ');
    }
    // Without pack or undelete a deleted record is tested like any other and stays deleted.
    Bytes deleted = record("20230507", '*');
    EXPECT_EQ(check(deleted), RecordVerdict::Keep);
    EXPECT_EQ(deleted[0], '*');
    Bytes deletedBad = record("2023x507", '*');
    EXPECT_EQ(check(deletedBad), RecordVerdict::Reject);
}

TEST_F(RecordChecksTest, FieldsCutByTheRecordEndAreJudgedByTheBytesInside) {
    // A record of 10 bytes; the descriptors claim more. Bytes after the record are sentinels
    // that no test may read or change.
    constexpr std::size_t length = 10;
    auto buffer = [](const std::string &values) {
        Bytes b(length + 8, 0xEE);
        std::fill_n(b.begin(), length, ' ');
        std::copy(values.begin(), values.end(), b.begin() + 1);
        return b;
    };
    auto sentinelsIntact = [](const Bytes &b) {
        return std::all_of(b.begin() + length, b.end(), [](std::uint8_t c) { return c == 0xEE; });
    };

    table(0x03, {});
    place('C', 1, 5);
    place('D', 6, 8); // 4 of its 8 bytes inside
    for (const char *date : {"2023", "    ", "1999"}) {
        Bytes b = buffer(std::string("abcde") + date);
        EXPECT_EQ(checkFirst(b, length), RecordVerdict::Keep) << date;
        EXPECT_TRUE(sentinelsIntact(b));
    }
    for (const char *date : {"20x3", "20  "}) {
        Bytes b = buffer(std::string("abcde") + date);
        EXPECT_EQ(checkFirst(b, length), RecordVerdict::Reject) << date;
    }

    // A day number needs all four bytes; with two it cannot be judged. (Level 7: the
    // sentinels read as a day number would be rejected.)
    table(0x8C, {});
    place('C', 1, 7);
    place('T', 8, 8);
    Bytes cutDay = buffer("abcdefg  ");
    EXPECT_EQ(checkFirst(cutDay, length), RecordVerdict::Keep);

    table(0x03, {});
    place('C', 1, 6);
    place('N', 7, 6);
    Bytes number = buffer("abcdef 12");
    EXPECT_EQ(checkFirst(number, length), RecordVerdict::Keep);
    Bytes badNumber = buffer("abcdef1-2");
    EXPECT_EQ(checkFirst(badNumber, length), RecordVerdict::Reject);

    // Fields that start at or past the end: nothing to judge, nothing written.
    table(0x03, {});
    place('C', 1, 9);
    place('L', 10, 1);
    place('D', 12, 8);
    place('N', 40, 5);
    Bytes outside = buffer("abcdefghi");
    EXPECT_EQ(checkFirst(outside, length), RecordVerdict::Keep);
    EXPECT_TRUE(sentinelsIntact(outside));
}

TEST_F(RecordChecksTest, DBaseReferencesToUnsoundBlocksBecomeBlanks) {
    table(0x83, {{'C', 2}, {'M', 10}});
    testing::BuiltMemo memo = testing::dBase3MemoFile({"first", "second"});
    openMemo(memo.file);
    Bytes sound = record("ab" + memoReference(memo.blocks[1]));
    EXPECT_EQ(check(sound), RecordVerdict::Keep);
    EXPECT_EQ(text(sound), " ab" + memoReference(memo.blocks[1]));
    Bytes none = record("ab");
    EXPECT_EQ(check(none), RecordVerdict::Keep);

    for (std::uint32_t block : {500u, memo.blocks[1] + 1}) {
        Bytes beyond = record("ab" + memoReference(block));
        EXPECT_EQ(check(beyond), RecordVerdict::Keep) << block;
        EXPECT_EQ(text(beyond), " ab" + std::string(10, ' ')) << block;
    }
    options.deleteInvalidMemo = 1;
    Bytes dropped = record("ab" + memoReference(500));
    EXPECT_EQ(check(dropped), RecordVerdict::Reject);
    EXPECT_EQ(text(dropped), " ab" + std::string(10, ' '));
    Bytes kept = record("ab" + memoReference(memo.blocks[0]));
    EXPECT_EQ(check(kept), RecordVerdict::Keep);
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(RecordChecksTest, FoxProReferencesMustLeadToTextBlocks) {
    testing::BuiltMemo memo =
        testing::foxProMemoFile(64, {{1, bytesOf("text")}, {0, Bytes{1, 2, 3}}});
    table(0x30, {{'M', 4}, {'C', 2}});
    openMemo(memo.file, tableFlagHasMemo);
    Bytes text4 = record(le32(memo.blocks[0]) + "zz");
    EXPECT_EQ(check(text4), RecordVerdict::Keep);
    EXPECT_EQ(text(text4), " " + le32(memo.blocks[0]) + "zz");
    for (std::uint32_t block : {memo.blocks[1], 5000u}) {
        Bytes invalid = record(le32(block) + "zz");
        EXPECT_EQ(check(invalid), RecordVerdict::Keep) << block;
        EXPECT_EQ(text(invalid), " " + std::string(4, '\0') + "zz") << block;
    }

    // FoxPro tables hold ten-character references to the same kind of blocks.
    table(0xF5, {{'M', 10}});
    openMemo(memo.file);
    Bytes text10 = record(memoReference(memo.blocks[0]));
    EXPECT_EQ(check(text10), RecordVerdict::Keep);
    EXPECT_EQ(text(text10), " " + memoReference(memo.blocks[0]));
    Bytes picture10 = record(memoReference(memo.blocks[1]));
    options.deleteInvalidMemo = 1;
    EXPECT_EQ(check(picture10), RecordVerdict::Reject);
    EXPECT_EQ(text(picture10), std::string(11, ' '));
}
#endif

TEST_F(RecordChecksTest, OtherReferenceLengthsLoseTheirFirstFourBytes) {
    testing::BuiltMemo memo = testing::dBase3MemoFile({"first"});
    table(0x83, {{'M', 8}, {'C', 1}});
    openMemo(memo.file);
    Bytes invalid = record("     500z");
    EXPECT_EQ(check(invalid), RecordVerdict::Keep);
    EXPECT_EQ(text(invalid), std::string(" \0\0\0\0 500z", 10));

    // A dBASE memo file tells no block type, so a 4-byte reference into it is not held to
    // one.
    table(0x83, {{'M', 4}});
    Bytes binary = record(le32(memo.blocks[0]));
    EXPECT_EQ(check(binary), RecordVerdict::Keep);
    EXPECT_EQ(text(binary), " " + le32(memo.blocks[0]));
}

TEST_F(RecordChecksTest, ReferencesAreLeftAloneWithoutAnOpenMemoFile) {
    table(0x83, {{'M', 10}});
    options.deleteInvalidMemo = 1;
    Bytes noMemo = record(memoReference(500));
    EXPECT_EQ(check(noMemo), RecordVerdict::Keep);
    job.sourceMemo = std::make_unique<MemoFile>(); // never opened
    Bytes closed = record(memoReference(500));
    EXPECT_EQ(check(closed), RecordVerdict::Keep);
    EXPECT_EQ(text(closed), " " + memoReference(500));
}

TEST_F(RecordChecksTest, CutReferencesAreClearedOnlyInsideTheRecord) {
    testing::BuiltMemo memo = testing::dBase3MemoFile({"first"});
    table(0x83, {});
    openMemo(memo.file);
    place('C', 1, 3);
    place('M', 4, 10); // six of its ten bytes inside a 10-byte record
    Bytes b(18, 0xEE);
    const std::string values = " abc   500";
    std::copy(values.begin(), values.end(), b.begin());
    EXPECT_EQ(checkFirst(b, 10), RecordVerdict::Keep);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 10), " abc      ");
    EXPECT_EQ(Bytes(b.begin() + 10, b.end()), Bytes(8, 0xEE));

    // A binary reference with only three of its bytes cannot be read: no memo.
    table(0x83, {});
    place('C', 1, 6);
    place('M', 7, 4);
    Bytes binary(14, 0xEE);
    const std::string cut = " abcdef\x01\x02\x03";
    std::copy(cut.begin(), cut.end(), binary.begin());
    EXPECT_EQ(checkFirst(binary, 10), RecordVerdict::Keep);
    EXPECT_EQ(std::string(binary.begin(), binary.begin() + 10), cut);
}

class RecordFiltersRunTest : public ::testing::Test {
  protected:
    static TableBuilder people() {
        TableBuilder t(0x03);
        t.field("NAME", 'C', 4).field("OK", 'L', 1).field("BORN", 'D', 8);
        return t;
    }
    Bytes repair(const TableBuilder &source) {
        testing::writeFile(dir.file("a.dbf"), source.build());
        EXPECT_EQ(context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false), recoveryFixed);
        return testing::readFile(dir.file("b.dbf"));
    }

    testing::TempDir dir;
    testing::EngineRun context{platform::nativePlatform()};
};

TEST_F(RecordFiltersRunTest, DuplicatesAndBadRecordsAreLeftOutAndRepairsWritten) {
    TableBuilder source = people();
    source.record("annaT19900101")
        .record("bertx19910101")
        .record("annaT19900101")       // duplicate of record 0
        .record("carlT2023x101")       // bad date
        .record("annaT19900101", '*')  // deleted: not compared, written as it is
        .record("bertx19910101")       // duplicate of record 1 as read
        .record("bert 19910101", 'x'); // not a duplicate: record 1 read "x"
    context.options.deleteDuplicates = 1;
    TableBuilder expected = people();
    expected.record("annaT19900101")
        .record("bert 19910101")
        .record("annaT19900101", '*')
        .record("bert 19910101");
    EXPECT_EQ(repair(source), expected.build());
}

TEST_F(RecordFiltersRunTest, PackAndEmptyFiltersDropRecordsAndUndeleteRevivesThem) {
    TableBuilder source = people();
    source.record("annaT19900101")
        .record("bertF19910101", '*')
        .record("")
        .rawRecord(Bytes(14, 0))
        .record("carlT19920101");
    context.options.pack = 1;
    context.options.deleteEmpty = 1;
    TableBuilder packed = people();
    packed.record("annaT19900101").record("carlT19920101");
    EXPECT_EQ(repair(source), packed.build());

    context.options.pack = 0;
    context.options.recoverDeleted = 1;
    TableBuilder revived = people();
    revived.record("annaT19900101").record("bertF19910101").record("carlT19920101");
    EXPECT_EQ(repair(source), revived.build());
}

TEST_F(RecordFiltersRunTest, ARunDecidesEveryRecordAsTheChecksOneByOneDo) {
    // Enough records for several read batches, drawn from a small pool so that many repeat,
    // with deleted, stray and blank flags, bad fields and empty records; each option set
    // against the same records checked one at a time with a fresh table.
    const std::vector<std::string> pool = {
        "annaT19900101   1.5", "annaT19900101   1.5", "bertt19910101  -2  ", "carlT2023x101   3  ",
        "dora?19920101  1-2 ", "                   ", "eve F        12.5.1", "fritT19930101 99999",
    };
    std::mt19937 random(5);
    TableBuilder source(0x03);
    source.field("NAME", 'C', 4).field("OK", 'L', 1).field("BORN", 'D', 8).field("N", 'N', 6);
    std::vector<Bytes> records;
    for (int i = 0; i < 40000; ++i) {
        std::string values = pool[random() % pool.size()];
        if (random() % 4 == 0)
            values[random() % values.size()] = static_cast<char>('a' + random() % 3);
        const char flags[] = {' ', ' ', ' ', '*', 'x', '\0'};
        char flag = flags[random() % 6];
        source.record(values, flag);
        records.push_back(bytesOf(std::string(1, flag) + values));
    }
    for (int set = 0; set < 8; ++set) {
        context.options = {};
        context.options.deleteDuplicates = 1;
        context.options.pack = set & 1;
        context.options.recoverDeleted = (set >> 1) & 1;
        context.options.deleteEmpty = (set >> 2) & 1;

        // The job as the analysis leaves it for this table.
        RecoveryJob job;
        job.header.setType(0x03);
        job.header.setRecordLength(20);
        std::uint16_t displacement = 1;
        for (auto [type, length] : {std::pair{'C', 4}, {'L', 1}, {'D', 8}, {'N', 6}}) {
            FieldDescriptor field;
            field.bytes[11] = static_cast<std::uint8_t>(type);
            field.setDisplacement(displacement);
            field.bytes[16] = static_cast<std::uint8_t>(length);
            job.fields.push_back(field);
            displacement = static_cast<std::uint16_t>(displacement + length);
        }
        DuplicateTable duplicates;
        Bytes expected;
        std::uint32_t kept = 0;
        for (std::uint32_t i = 0; i < records.size(); ++i) {
            Bytes record = records[i];
            if (checkRecord({record.data(), record.size()}, i, context.options, job, duplicates) ==
                RecordVerdict::Keep) {
                expected.insert(expected.end(), record.begin(), record.end());
                ++kept;
            }
        }

        Bytes repaired = repair(source);
        std::size_t headerLength = source.computedHeaderLength();
        ASSERT_GE(repaired.size(), headerLength + expected.size()) << "options " << set;
        EXPECT_EQ(readLe32(&repaired[4]), kept) << "options " << set;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), repaired.begin() + headerLength))
            << "options " << set;
    }
}

} // namespace
} // namespace salvora
