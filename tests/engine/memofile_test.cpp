#include <gtest/gtest.h>

#include "engine/memofile.h"
#include "engine/recoverymemos.h"
#include "tests/support/memobuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::TempDir;

class MemoFileTest : public ::testing::Test {
  protected:
    std::unique_ptr<MemoFile> open(const Bytes &file, MemoTableInfo table, bool writable,
                                   const std::string &name = "t.fpt") {
        testing::writeFile(dir.file(name), file);
        table.tablePath = dir.file("t.dbf");
        return openMemo(os, dir.file(name), table.type, writable, true, table);
    }
    std::string text(const MemoFile &memo, std::size_t length) {
        return std::string(memo.readBuffer.begin(),
                           memo.readBuffer.begin() + static_cast<long>(length));
    }

    TempDir dir;
    platform::Platform &os = platform::nativePlatform();
    const MemoTableInfo foxPro{0xF5, 0, ""};
    const MemoTableInfo visualFoxPro{0x30, 0x02, ""};
    const MemoTableInfo dBase3{0x83, 0, ""};
};

TEST_F(MemoFileTest, NewFoxProFileHasAHeaderOnlyAndTheFirstMemoLandsInBlock8) {
    auto memo = open({}, visualFoxPro, true);
    ASSERT_TRUE(memo->isOpen());
    Bytes header = testing::readFile(dir.file("t.fpt"));
    ASSERT_EQ(header.size(), 512u);
    EXPECT_EQ(header[6], 0x00);
    EXPECT_EQ(header[7], 0x40);
    EXPECT_EQ(header[3], 8); // the first free block, never the header

    std::string hundred(100, 'x');
    std::uint32_t block = appendMemo(*memo, reinterpret_cast<const std::uint8_t *>(hundred.data()),
                                     hundred.size(), foxProTextBlock);
    EXPECT_EQ(block, 8u);
    memo.reset();
    Bytes file = testing::readFile(dir.file("t.fpt"));
    ASSERT_EQ(file.size(), 512u + 128u); // 108 bytes take two 64-byte blocks
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 4), (Bytes{0, 0, 0, 10}));
    EXPECT_EQ(Bytes(file.begin() + 512, file.begin() + 520), (Bytes{0, 0, 0, 1, 0, 0, 0, 100}));
    EXPECT_EQ(file.back(), 0);
}

TEST_F(MemoFileTest, WritableFoxProFileIsPaddedToWholeBlocks) {
    testing::BuiltMemo built = testing::foxProMemoFile(64, {});
    built.file.resize(1000, 0);
    auto memo = open(built.file, foxPro, true);
    EXPECT_EQ(memo->nextFreeBlock, 16);
    memo.reset();
    Bytes file = testing::readFile(dir.file("t.fpt"));
    EXPECT_EQ(file.size(), 1024u);
    EXPECT_EQ(file[3], 16);
}

TEST_F(MemoFileTest, FoxProBlocksReadWithTheirTypeWord) {
    testing::BuiltMemo built =
        testing::foxProMemoFile(64, {{1, testing::bytesOf("hello")}, {0, Bytes{0, 1, 2, 3}}});
    auto memo = open(built.file, foxPro, false);
    std::uint32_t type = 0;
    EXPECT_EQ(memoBlockLength(*memo, built.blocks[0], &type), 5u);
    EXPECT_EQ(type, foxProTextBlock);
    EXPECT_EQ(readMemo(*memo, built.blocks[0]), 5u);
    EXPECT_EQ(text(*memo, 5), "hello");
    EXPECT_EQ(memoBlockLength(*memo, built.blocks[1], &type), 4u);
    EXPECT_EQ(type, 0u);
    // Past the end, at the header, and lengths larger than the whole file are invalid.
    EXPECT_EQ(memoBlockLength(*memo, 1000), 0u);
    EXPECT_EQ(memoBlockLength(*memo, 0), 0u);
    Bytes damaged = built.file;
    damaged[built.blocks[0] * 64 + 4] = 0x7F;
    auto broken = open(damaged, foxPro, false, "u.fpt");
    EXPECT_EQ(memoBlockLength(*broken, built.blocks[0]), 0u);
}

TEST_F(MemoFileTest, DamagedFoxProBlockSizeNeverDividesByZero) {
    for (std::uint16_t size : {0, 0xFFC0}) {
        testing::BuiltMemo built = testing::foxProMemoFile(64, {{1, testing::bytesOf("abc")}});
        built.file[6] = static_cast<std::uint8_t>(size >> 8);
        built.file[7] = static_cast<std::uint8_t>(size);
        auto memo = open(built.file, foxPro, true);
        EXPECT_EQ(memo->blockSize, 64);
        EXPECT_EQ(memoBlockLength(*memo, built.blocks[0]), 3u);
    }
}

TEST_F(MemoFileTest, DBase3TextsEndAtTheirTerminator) {
    testing::BuiltMemo built =
        testing::dBase3MemoFile({"first memo", std::string(600, 'y'), "third"});
    auto memo = open(built.file, dBase3, false, "t.dbt");
    EXPECT_EQ(memoBlockLength(*memo, built.blocks[0]), 512u);
    EXPECT_EQ(memoBlockLength(*memo, built.blocks[1]), 1024u);
    EXPECT_EQ(readMemo(*memo, built.blocks[1]), 600u);
    EXPECT_EQ(readMemo(*memo, built.blocks[2]), 5u);
    EXPECT_EQ(text(*memo, 5), "third");
    // Block 5 of a 2560-byte file starts at its end.
    Bytes exact(2560, ' ');
    auto sized = open(exact, dBase3, false, "s.dbt");
    EXPECT_EQ(memoBlockLength(*sized, 5), 0u);
    EXPECT_EQ(memoBlockLength(*sized, 4), 512u); // no terminator: up to the end of the file
}

TEST_F(MemoFileTest, DBase3AppendsTakeWholeBlocksWithTwoTerminators) {
    auto memo = open({}, dBase3, true, "t.dbt");
    std::string fits(510, 'a'), spills(511, 'b');
    EXPECT_EQ(
        appendMemo(*memo, reinterpret_cast<const std::uint8_t *>(fits.data()), fits.size(), 0), 1u);
    EXPECT_EQ(
        appendMemo(*memo, reinterpret_cast<const std::uint8_t *>(spills.data()), spills.size(), 0),
        2u);
    memo.reset();
    Bytes file = testing::readFile(dir.file("t.dbt"));
    ASSERT_EQ(file.size(), 512u * 4);
    // A dBASE III file, not to be taken for dBASE IV when read again.
    EXPECT_EQ(file[16], 0x03);
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 16), Bytes(8, 0));
    EXPECT_EQ(file[18] | file[19], 0);
    EXPECT_EQ(file[0], 4); // next free block, little-endian
    EXPECT_EQ(file[512 + 510], 0x1A);
    EXPECT_EQ(file[512 + 511], 0x1A);
    EXPECT_EQ(file[1024 + 511], 0x1A);
    EXPECT_EQ(file[1536], 0x1A);
}

TEST_F(MemoFileTest, DBase4FileIsRecognisedByItsTableNameAndBlockSize) {
    testing::BuiltMemo built = testing::dBase4MemoFile("T", 1024, {std::string(100, 'z')});
    MemoTableInfo table{0x83, 0, ""};
    auto memo = open(built.file, table, false, "t.dbt");
    EXPECT_EQ(memo->kind, 0x8B);
    EXPECT_EQ(memo->blockSize, 1024);
    EXPECT_EQ(memoBlockLength(*memo, built.blocks[0]), 108u);
    EXPECT_EQ(readMemo(*memo, built.blocks[0]), 100u);

    for (std::uint16_t size : {513, 0}) {
        testing::BuiltMemo odd = testing::dBase4MemoFile("t", 512, {"abc"});
        odd.file[18] = static_cast<std::uint8_t>(size >> 8);
        odd.file[19] = static_cast<std::uint8_t>(size);
        auto other = open(odd.file, table, false, "o.dbt");
        EXPECT_EQ(other->blockSize, 512) << size;
    }
}

TEST_F(MemoFileTest, DBase4TablesRejectBlocksWithoutTheirMarker) {
    testing::BuiltMemo built = testing::dBase4MemoFile("t", 512, {"abc"});
    built.file[512] = 0x00;
    MemoTableInfo table{0x8B, 0, ""};
    auto memo = open(built.file, table, false, "t.dbt");
    EXPECT_EQ(memoBlockLength(*memo, built.blocks[0]), 0u);
}

TEST_F(MemoFileTest, DBase4AppendAfterALargerBlockSizeNeverLandsInTheHeader) {
    testing::BuiltMemo built = testing::dBase4MemoFile("t", 1024, {});
    built.file.resize(512);
    MemoTableInfo table{0x8B, 0, ""};
    auto memo = open(built.file, table, true, "t.dbt");
    ASSERT_EQ(memo->blockSize, 1024);
    std::string text = "after the header";
    EXPECT_EQ(
        appendMemo(*memo, reinterpret_cast<const std::uint8_t *>(text.data()), text.size(), 0), 1u);
    EXPECT_EQ(readMemo(*memo, 1), text.size());
}

TEST_F(MemoFileTest, SmtMemosAreRawTextReadForAGivenLength) {
    testing::BuiltMemo built = testing::smtMemoFile(512, {"first", std::string(600, 's')});
    MemoTableInfo table{0xE5, 0, ""};
    auto memo = open(built.file, table, false, "t.smt");
    EXPECT_EQ(readMemo(*memo, built.blocks[0], 0), 0u);
    EXPECT_EQ(readMemo(*memo, built.blocks[0], 5), 5u);
    EXPECT_EQ(text(*memo, 5), "first");
}

TEST_F(MemoFileTest, MissingSourceMemoIsNotCreated) {
    MemoTableInfo table{0x83, 0, dir.file("t.dbf")};
    auto memo = openMemo(os, dir.file("t.dbf"), 0x83, false, false, table);
    EXPECT_FALSE(memo->isOpen());
    EXPECT_EQ(memoBlockLength(*memo, 1), 0u);
    EXPECT_TRUE(dir.names().empty());
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(MemoFileTest, MemoBesideTheTableIsFoundInAnyLetterCase) {
    testing::writeFile(dir.file("T.FPT"), testing::foxProMemoFile(64, {}).file);
    MemoTableInfo table{0xF5, 0, dir.file("t.dbf")};
    auto memo = openMemo(os, dir.file("t.dbf"), 0xF5, false, false, table);
    EXPECT_TRUE(memo->isOpen());
    EXPECT_EQ(memo->path, dir.file("T.FPT"));
}
#endif

TEST(OutputMemoPath, FollowsTheOutputNameAndTheSourceMemoKind) {
    EXPECT_EQ(outputMemoPath("/x/out.dbf", "/s/in.fpt"), "/x/out.fpt");
    EXPECT_EQ(outputMemoPath("/x/OUT.DBF", "/s/in.dbt"), "/x/OUT.DBT");
    EXPECT_EQ(outputMemoPath("/x/out.dbf", "/s/in.smt"), "/x/out.smt");
    EXPECT_EQ(outputMemoPath("/x.dbf/out.dbf", "/s/IN.FPT"), "/x.dbf/out.fpt");
    EXPECT_EQ(outputMemoPath("/x/out.tbl", "/s/in.fpt"), "/x/out.fpt");
    EXPECT_EQ(outputMemoPath("/x/out", "/s/in.fpt"), "/x/out.fpt");
    EXPECT_EQ(outputMemoPath("/x/out.dbf", "/s/in.mem"), std::nullopt);
}

} // namespace
} // namespace salvora
