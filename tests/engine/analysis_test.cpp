#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <unistd.h>

#include "engine/analysis.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::TableBuilder;
using testing::TempDir;

struct Analysed {
    AnalysisResult result;
    RecoveryJob job;
};

class AnalysisTest : public ::testing::Test {
  protected:
    Analysed analyse(const Bytes &bytes) {
        std::string path = dir.file("t" + std::to_string(counter++) + ".dbf");
        testing::writeFile(path, bytes);
        return analysePath(path);
    }
    Analysed analysePath(const std::string &path) {
        Analysed a;
        a.job.sourcePath = path;
        a.result = analyseStructure(context, a.job);
        return a;
    }

    static TableBuilder threeFields(std::uint8_t type = 0x03) {
        TableBuilder t(type);
        t.field("NAME", 'C', 10).field("AGE", 'N', 3).field("BORN", 'D', 8);
        return t;
    }

    TempDir dir;
    EngineContext context{platform::nativePlatform()};
    int counter = 0;
};

TEST_F(AnalysisTest, SoundTableIsAcceptedAndItsCountComesFromTheFileSize) {
    TableBuilder t = threeFields();
    t.record("Ann       42 20000101").record("Bob       17 19991231").recordCount(99);
    Analysed a = analyse(t.build());
    ASSERT_TRUE(a.result.opened);
    EXPECT_FALSE(a.result.abort);
    EXPECT_FALSE(a.result.relocated);
    EXPECT_EQ(a.result.headerOffset, 0u);
    EXPECT_EQ(a.job.header.recordCount(), 2u); // the trailing 0x1A does not count
    EXPECT_EQ(a.job.fieldCount, 3);
    ASSERT_EQ(a.job.fields.size(), 3u);
    EXPECT_EQ(a.job.fields[0].displacement(), 1);
    EXPECT_EQ(a.job.fields[1].displacement(), 11);
    EXPECT_EQ(a.job.fields[2].displacement(), 14);
    EXPECT_EQ(a.job.alignedRecordLength, 24);
    EXPECT_EQ(a.job.alignedRecordWords, 6);
    EXPECT_EQ(a.job.recordBuffer.size(), 24u);
}

TEST_F(AnalysisTest, HeaderAtOffsetZeroIsTrustedDespiteAWrongRecordLength) {
    TableBuilder t = threeFields();
    t.record("x").record("y").recordLength(30);
    Analysed a = analyse(t.build());
    EXPECT_FALSE(a.result.abort);
    EXPECT_FALSE(a.result.relocated);
    EXPECT_EQ(a.job.header.recordLength(), 30);
    EXPECT_EQ(a.job.header.recordCount(), (t.build().size() - t.computedHeaderLength()) / 30);
}

TEST_F(AnalysisTest, StrayLeadingBytesAreSkippedToTheExactHeaderOffset) {
    TableBuilder t = threeFields();
    for (int i = 0; i < 5; ++i)
        t.record("rec" + std::to_string(i));
    Bytes file = testing::concat(testing::bytesOf("garbage"), t.build());
    Analysed a = analyse(file);
    EXPECT_FALSE(a.result.abort);
    EXPECT_FALSE(a.result.relocated);
    EXPECT_EQ(a.result.headerOffset, 7u);
    EXPECT_EQ(a.job.header.recordCount(), (file.size() - 7 - t.computedHeaderLength()) / 22);
}

TEST_F(AnalysisTest, ZeroedHeaderIsRebuiltFromTheDescriptors) {
    TableBuilder t = threeFields();
    t.record("a").record("b").record("c").date(99, 1, 1);
    Bytes file = t.build();
    std::fill(file.begin(), file.begin() + 32, 0);
    Analysed a = analyse(file);
    EXPECT_FALSE(a.result.abort);
    EXPECT_TRUE(a.result.relocated);
    EXPECT_EQ(a.result.headerOffset, 128u); // the terminator
    EXPECT_EQ(a.job.header.type(), 0x03);
    EXPECT_EQ(a.job.header.recordLength(), 22);
    EXPECT_EQ(a.job.header.headerLength(), 32 * 3 + 33);
    EXPECT_EQ(a.job.dataStart, 129u);
    EXPECT_EQ(a.job.header.recordCount(), 3u);
    EXPECT_EQ(a.job.fields[2].displacement(), 14);
}

TEST_F(AnalysisTest, RebuiltVisualFoxProTypesComeFromTheFieldTypes) {
    struct Case {
        char type;
        std::uint8_t flags;
        std::uint8_t expected;
    };
    for (Case c : {Case{'T', 0, 0x30}, Case{'Y', 0x0C, 0x31}, Case{'V', 0, 0x32}}) {
        TableBuilder t(0x30);
        t.field("NAME", 'C', 10).field("EXTRA", c.type, 8, 0, c.flags);
        t.record("one").record("two");
        Bytes file = t.build();
        std::fill(file.begin(), file.begin() + 32, 0);
        Analysed a = analyse(file);
        ASSERT_FALSE(a.result.abort);
        EXPECT_TRUE(a.result.relocated);
        EXPECT_EQ(a.job.header.type(), c.expected) << c.type;
        EXPECT_EQ(a.job.header.headerLength(), 32 * 2 + 296);
        // The 263 zero bytes after the terminator are a free table's backlink.
        EXPECT_EQ(a.job.dataStart, a.result.headerOffset + 264);
        EXPECT_EQ(a.job.header.recordCount(), 2u);
    }
}

TEST_F(AnalysisTest, RebuiltMemoTablesKeepTheirMemoFile) {
    struct Case {
        const char *name;
        std::uint8_t memoLength;
        const char *memoFile; // beside the table, or nullptr
        std::uint8_t expected;
    };
    for (Case c : {Case{"d3.dbf", 10, "d3.dbt", 0x83}, Case{"f2.dbf", 10, "F2.FPT", 0xF5},
                   Case{"lost.dbf", 10, nullptr, 0x83}, Case{"vfp.dbf", 4, nullptr, 0x30}}) {
        TableBuilder t(c.expected);
        t.field("NAME", 'C', 5).field("NOTES", 'M', c.memoLength).record("abcde").record("fghij");
        Bytes file = t.build();
        std::fill(file.begin(), file.begin() + 32, 0);
        std::string path = dir.file(c.name);
        testing::writeFile(path, file);
        if (c.memoFile)
            testing::writeFile(dir.file(c.memoFile), Bytes(512, 0));
        Analysed a = analysePath(path);
        ASSERT_FALSE(a.result.abort) << c.name;
        EXPECT_EQ(a.job.header.type(), c.expected) << c.name;
        EXPECT_EQ(a.job.header.recordCount(), 2u) << c.name;
    }
}

TEST_F(AnalysisTest, RebuiltBacklinkNamingAContainerIsRecognisedInAnyCase) {
    TableBuilder t(0x30);
    t.field("WHEN", 'T', 8).record("12345678").backlink("..\\DATA\\SALES.DBC");
    Bytes file = t.build();
    std::fill(file.begin(), file.begin() + 32, 0);
    Analysed a = analyse(file);
    ASSERT_FALSE(a.result.abort);
    EXPECT_EQ(a.job.dataStart, a.result.headerOffset + 264);
    EXPECT_EQ(a.job.header.recordCount(), 1u);
}

TEST_F(AnalysisTest, RebuiltVisualFoxProTableTooShortForItsBacklinkHasNoRecords) {
    TableBuilder t(0x30);
    t.field("WHEN", 'T', 8);
    Bytes file = t.header();
    file.resize(32 + 32 + 1 + 100, 'x'); // the terminator lies 101 bytes before the end
    std::fill(file.begin(), file.begin() + 32, 0);
    Analysed a = analyse(file);
    ASSERT_FALSE(a.result.abort);
    EXPECT_TRUE(a.result.relocated);
    EXPECT_EQ(a.job.header.recordCount(), 0u);
}

TEST_F(AnalysisTest, FileWithoutAnyDescriptorIsAborted) {
    Analysed a = analyse(Bytes(5000, 0x05));
    EXPECT_TRUE(a.result.opened);
    EXPECT_TRUE(a.result.abort);
    Analysed empty = analyse(Bytes{});
    EXPECT_TRUE(empty.result.abort);
}

TEST_F(AnalysisTest, TerminatorOffTheDescriptorGridIsAborted) {
    TableBuilder t = threeFields();
    Bytes file = t.header();
    std::fill(file.begin(), file.begin() + 32, 0);
    // Shift the descriptors by 3 bytes: the terminator no longer begins a 32-byte block.
    file.insert(file.begin() + 32, 3, 0);
    file.resize(file.size() + 64, ' ');
    Analysed a = analyse(file);
    EXPECT_TRUE(a.result.abort);
}

TEST_F(AnalysisTest, RecordLengthZeroRejectsTheCandidateAtOnce) {
    TableBuilder t = threeFields();
    t.record("a").recordLength(0);
    Analysed a = analyse(t.build());
    ASSERT_FALSE(a.result.abort);
    EXPECT_TRUE(a.result.relocated); // descriptors stand behind the rejected header
}

// A header without room for a field describes no records: the descriptors behind it are.
TEST_F(AnalysisTest, VisualFoxProHeaderWithoutRoomForFieldsGivesWayToItsDescriptors) {
    for (std::uint16_t headerLength : {64, 200, 327}) {
        TableBuilder t(0x30);
        t.field("A", 'C', 3).record("abc").headerLength(headerLength).recordLength(4);
        Bytes file = t.build();
        file.resize(1000, ' ');
        Analysed a = analyse(file);
        ASSERT_FALSE(a.result.abort) << headerLength;
        EXPECT_TRUE(a.result.relocated);
        EXPECT_EQ(a.job.fieldCount, 1);
        EXPECT_EQ(a.job.header.type(), 0x30) << "the backlink area tells Visual FoxPro";
        EXPECT_EQ(a.job.dataStart, 32u + 32 + 1 + 263);
    }
}

TEST_F(AnalysisTest, HeaderOnlyTablesKeepTheirHeaderLength) {
    TableBuilder t = threeFields();
    Analysed withMarker = analyse(t.build());
    EXPECT_EQ(withMarker.job.header.recordCount(), 0u);
    EXPECT_EQ(withMarker.job.header.headerLength(), t.computedHeaderLength());

    // Without the end marker the header must not lose its last byte (the terminator), or every
    // repair of an empty table would cut one more.
    t.endMarker(false);
    Analysed without = analyse(t.build());
    EXPECT_EQ(without.job.header.recordCount(), 0u);
    EXPECT_EQ(without.job.header.headerLength(), t.computedHeaderLength());
}

TEST_F(AnalysisTest, HeaderPathInfersATypeOnlyForATypeByteOfZero) {
    TableBuilder t(0x00);
    t.field("NOTE", 'M', 10).record("         1");
    Analysed a = analyse(t.build());
    ASSERT_FALSE(a.result.abort);
    EXPECT_EQ(a.job.header.type(), 0x83);

    TableBuilder vfp(0x00);
    vfp.field("ID", 'I', 4).field("AUTO", '+', 4, 0, 0x0C).record("12345678");
    Analysed b = analyse(vfp.build());
    EXPECT_EQ(b.job.header.type(), 0x31);
}

TEST_F(AnalysisTest, FoxProDescriptorsLoseTheirReservedBytes) {
    TableBuilder t(0xF5);
    t.field("A", 'C', 4).record("abcd");
    Bytes file = t.build();
    file[32 + 24] = 0x77;
    Analysed a = analyse(file);
    ASSERT_EQ(a.job.fields.size(), 1u);
    EXPECT_EQ(a.job.fields[0].bytes[24], 0);
}

Bytes level7Table(const std::vector<std::array<std::uint8_t, 3>> &fields) {
    // type letter, length, decimals per 48-byte descriptor
    Bytes file(68, 0);
    file[0] = 0x04;
    file[1] = 124;
    file[2] = 1;
    file[3] = 1;
    std::uint16_t headerLength = static_cast<std::uint16_t>(68 + 48 * fields.size() + 1);
    file[8] = static_cast<std::uint8_t>(headerLength);
    file[9] = static_cast<std::uint8_t>(headerLength >> 8);
    std::uint32_t recordLength = 1;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        Bytes d(48, 0);
        d[0] = static_cast<std::uint8_t>('A' + i);
        d[32] = fields[i][0];
        d[33] = fields[i][1];
        d[34] = fields[i][2];
        recordLength += fields[i][1];
        file.insert(file.end(), d.begin(), d.end());
    }
    file[10] = static_cast<std::uint8_t>(recordLength);
    file[11] = static_cast<std::uint8_t>(recordLength >> 8);
    file.push_back(0x0D);
    for (int r = 0; r < 3; ++r)
        file.insert(file.end(), recordLength, ' ');
    file.push_back(0x1A);
    return file;
}

TEST_F(AnalysisTest, Level7DescriptorsAreConverted) {
    Analysed a = analyse(level7Table({{'C', 20, 0}, {'N', 0, 0}, {'N', 8, 2}}));
    ASSERT_FALSE(a.result.abort);
    ASSERT_EQ(a.job.fieldCount, 2); // the descriptor of length 0 is skipped
    EXPECT_EQ(a.job.fields[0].name(), "A");
    EXPECT_EQ(a.job.fields[1].name(), "C");
    EXPECT_EQ(a.job.fields[1].type(), 'N');
    EXPECT_EQ(a.job.fields[1].decimalCount(), 2);
    EXPECT_EQ(a.job.fields[1].displacement(), 21);
    EXPECT_EQ(a.job.header.recordCount(), 3u);
}

// Without a field a header describes no records, and no table is made of it.
TEST_F(AnalysisTest, Level7WithAnUnacceptedTypeIsNoHeader) {
    Analysed a = analyse(level7Table({{'C', 20, 0}, {'X', 5, 0}}));
    EXPECT_TRUE(a.result.abort || a.result.headerOffset != 0);
}

TEST_F(AnalysisTest, ReadOnlySourceIsOpenedForReadingAndRemembered) {
    std::string path = dir.file("ro.dbf");
    testing::writeFile(path, threeFields().record("a").build());
    ASSERT_EQ(context.os.setReadOnly(path, true), 0);
    Analysed a = analysePath(path);
    EXPECT_TRUE(a.result.opened);
    EXPECT_NE(a.job.openFlags & globalFlagReadOnlySeen, 0u);
    EXPECT_NE(context.globalFlags & globalFlagReadOnlySeen, 0u);
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(AnalysisTest, LockedSourceIsOpenedSharedAndLaterSourcesStartShared) {
    std::string path = dir.file("held.dbf");
    testing::writeFile(path, threeFields().record("a").build());
    // Another program holds the table open, sharing it.
    int other = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_SH), 0);
    Analysed a = analysePath(path);
    ::close(other);
    EXPECT_TRUE(a.result.opened);
    EXPECT_NE(a.job.openFlags & globalFlagOpenShared, 0u);
    EXPECT_EQ(a.job.openFlags & globalFlagReadOnlySeen, 0u); // second attempt, still read-write

    std::string next = dir.file("next.dbf");
    testing::writeFile(next, threeFields().record("a").build());
    Analysed b = analysePath(next);
    EXPECT_TRUE(b.result.opened);
    EXPECT_NE(b.job.openFlags & globalFlagOpenShared, 0u);
}
#endif

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(AnalysisTest, SourceHeldExclusivelyCannotBeOpenedAndFlagsAreRestored) {
    std::string path = dir.file("locked.dbf");
    testing::writeFile(path, threeFields().record("a").build());
    int other = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    Analysed a = analysePath(path);
    ::close(other);
    EXPECT_FALSE(a.result.opened);
    EXPECT_EQ(a.result.openError, platform::errorSharingViolation());
    EXPECT_EQ(context.globalFlags, 0u);
}
#endif

TEST_F(AnalysisTest, MissingSourceFailsAllAttempts) {
    Analysed a = analysePath(dir.file("missing.dbf"));
    EXPECT_FALSE(a.result.opened);
    EXPECT_FALSE(a.result.abort);
    EXPECT_EQ(a.result.openError, platform::errorFileNotFound());
    EXPECT_EQ(context.globalFlags, 0u);
    EXPECT_EQ(a.job.source, nullptr);
}

TEST_F(AnalysisTest, OverlongRebuiltListIsUnrecoverableRatherThanWrapped) {
    // 2,046 descriptors are the most a header length of 16 bits can hold.
    for (const int fields : {2046, 2047, 2100}) {
        SCOPED_TRACE(fields);
        Bytes file(32, 0);
        Bytes d(32, 0);
        d[0] = 'F';
        d[11] = 'C';
        d[16] = 1;
        for (int i = 0; i < fields; ++i)
            file.insert(file.end(), d.begin(), d.end());
        file.push_back(0x0D);
        for (int record = 0; record < 20; ++record) {
            file.push_back(' ');
            file.resize(file.size() + static_cast<std::size_t>(fields), 'x');
        }
        Analysed a = analyse(file);
        EXPECT_EQ(a.result.abort, fields > 2046);
        if (fields <= 2046) {
            EXPECT_EQ(a.job.fieldCount, fields);
        }
    }
}

} // namespace
} // namespace salvora
