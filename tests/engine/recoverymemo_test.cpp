#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "engine/recovery.h"
#include "engine/tablecheck.h"
#include "tests/support/enginerun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/memobuilder.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::BuiltMemo;
using testing::Bytes;
using testing::bytesOf;
using testing::le32;
using testing::memoReference;
using testing::TableBuilder;

class RecoveryMemoTest : public ::testing::Test {
  protected:
    int run(const std::string &source, const std::string &output) {
        return context.run(nullptr, dir.file(source), dir.file(output), false);
    }
    // Single mode with the hidden "keep deleted" box cleared: deleted records are left out.
    int runDroppingDeleted(const std::string &source, const std::string &output) {
        testing::RecordingWindow window;
        window.texts[IDC_SOURCE] = dir.file(source);
        window.texts[IDC_OUTPUT] = dir.file(output);
        window.keepDeletedChecked = false;
        return context.run(&window, "", "", false);
    }
    Bytes read(const std::string &name) { return testing::readFile(dir.file(name)); }
    void write(const std::string &name, const Bytes &bytes) {
        testing::writeFile(dir.file(name), bytes);
    }
    static std::string slice(const Bytes &b, std::size_t at, std::size_t n) {
        return std::string(b.begin() + static_cast<long>(at),
                           b.begin() + static_cast<long>(at + n));
    }

    testing::TempDir dir;
    testing::WorkingFolder cwd{dir.path()};
    testing::EngineRun context{platform::nativePlatform()};
};

TEST_F(RecoveryMemoTest, FoxProMemoHoldsExactlyTheKeptRecordsMemos) {
    BuiltMemo memo = testing::foxProMemoFile(
        64,
        {{1, bytesOf("kept one")}, {1, bytesOf(std::string(100, 'd'))}, {1, bytesOf("kept two")}});
    TableBuilder t(0xF5);
    t.field("NAME", 'C', 4).field("NOTES", 'M', 10);
    t.record("aaaa" + memoReference(memo.blocks[0]));
    t.record("bbbb" + memoReference(memo.blocks[1]), '*');
    t.record("cccc" + memoReference(memo.blocks[2]));
    write("in.dbf", t.build());
    write("in.fpt", memo.file);

    ASSERT_EQ(runDroppingDeleted("in.dbf", "out.dbf"), recoveryFixed);
    BuiltMemo expectedMemo =
        testing::foxProMemoFile(64, {{1, bytesOf("kept one")}, {1, bytesOf("kept two")}});
    EXPECT_EQ(read("out.fpt"), expectedMemo.file);
    TableBuilder expected(0xF5);
    expected.field("NAME", 'C', 4).field("NOTES", 'M', 10);
    expected.record("aaaa" + memoReference(8)).record("cccc" + memoReference(9));
    EXPECT_EQ(read("out.dbf"), expected.build());
    EXPECT_EQ(read("in.fpt"), memo.file);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"in.dbf", "in.fpt", "out.dbf", "out.fpt"}));
}

TEST_F(RecoveryMemoTest, VisualFoxProBinaryReferencesKeepTheirBlockTypes) {
    Bytes picture = {0x00, 0x89, 'P', 'N', 'G', 0x00};
    BuiltMemo memo =
        testing::foxProMemoFile(64, {{1, bytesOf("text")}, {0, picture}, {1, bytesOf("wide")}});
    TableBuilder t(0x30);
    t.field("NOTES", 'M', 4).field("PIC", 'G', 4).field("BLOB", 'W', 4).field("LOST", 'G', 4);
    t.tableFlags(0x02);
    Bytes record = {' '};
    for (Bytes part :
         {le32(memo.blocks[0]), le32(memo.blocks[1]), le32(memo.blocks[2]), le32(5000)})
        record.insert(record.end(), part.begin(), part.end());
    t.rawRecord(record);
    write("in.dbf", t.build());
    write("in.fpt", memo.file);

    ASSERT_EQ(run("in.dbf", "out.dbf"), recoveryFixed);
    // A binary memo that starts with a NUL byte and a binary-memo field travel like the others;
    // the reference to a block past the end is cleared.
    BuiltMemo expectedMemo =
        testing::foxProMemoFile(64, {{1, bytesOf("text")}, {0, picture}, {1, bytesOf("wide")}});
    EXPECT_EQ(read("out.fpt"), expectedMemo.file);
    Bytes out = read("out.dbf");
    std::size_t at = t.computedHeaderLength() + 1;
    EXPECT_EQ(
        Bytes(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(at + 16)),
        testing::concat(testing::concat(le32(expectedMemo.blocks[0]), le32(expectedMemo.blocks[1])),
                        testing::concat(le32(expectedMemo.blocks[2]), le32(0))));
}

TEST_F(RecoveryMemoTest, VisualFoxProTableWithoutItsMemoFlagStillCarriesItsMemos) {
    BuiltMemo memo = testing::foxProMemoFile(64, {{1, bytesOf("hello")}});
    TableBuilder t(0x30);
    t.field("NOTES", 'M', 4).rawRecord(testing::concat({' '}, le32(memo.blocks[0])));
    write("in.dbf", t.build());
    write("in.fpt", memo.file);
    ASSERT_EQ(run("in.dbf", "out.dbf"), recoveryFixed);
    EXPECT_EQ(read("out.fpt"), memo.file);
    EXPECT_EQ(read("out.dbf")[28], 0x02);
}

TEST_F(RecoveryMemoTest, DBase3MemosAreRenumbered) {
    BuiltMemo memo = testing::dBase3MemoFile({"dropped", std::string(700, 'k'), "last"});
    TableBuilder t(0x83);
    t.field("NOTES", 'M', 10);
    t.record(memoReference(memo.blocks[0]), '*').record(memoReference(memo.blocks[1]));
    t.record(memoReference(memo.blocks[2]));
    write("in.dbf", t.build());
    write("in.dbt", memo.file);
    ASSERT_EQ(runDroppingDeleted("in.dbf", "out.dbf"), recoveryFixed);
    EXPECT_EQ(read("out.dbt"), testing::dBase3MemoFile({std::string(700, 'k'), "last"}).file);
    Bytes out = read("out.dbf");
    std::size_t first = t.computedHeaderLength() + 1;
    EXPECT_EQ(slice(out, first, 10), memoReference(1));
    EXPECT_EQ(slice(out, first + 11, 10), memoReference(3));
}

TEST_F(RecoveryMemoTest, DBase3MemosAreReadOnce) {
    // Where each text ends is looked for ahead of its copy, and so is where the next begins:
    // neither may push the text out of the read window before it is copied.
    std::vector<std::string> texts;
    for (int i = 0; i < 4000; ++i)
        texts.push_back(std::string(300 + i * 37 % 1500, static_cast<char>('a' + i % 26)));
    BuiltMemo memo = testing::dBase3MemoFile(texts);
    TableBuilder t(0x83);
    t.field("NOTES", 'M', 10);
    for (std::uint32_t block : memo.blocks)
        t.record(memoReference(block));
    write("in.dbf", t.build());
    write("in.dbt", memo.file);
    testing::FaultPlatform counting;
    testing::EngineRun counted{counting};
    ASSERT_EQ(counted.run(nullptr, dir.file("in.dbf"), dir.file("out.dbf"), false), recoveryFixed);
    EXPECT_EQ(read("out.dbt"), memo.file);
    EXPECT_LT(counting.counters(testing::pathEndsWith("in.dbt")).bytesRead,
              memo.file.size() * 11 / 10);
}

TEST_F(RecoveryMemoTest, DBase4MemoKeepsItsHeaderAndBlockSize) {
    BuiltMemo memo = testing::dBase4MemoFile("in", 1024, {"alpha", std::string(2000, 'b')});
    TableBuilder t(0x8B);
    t.field("NOTES", 'M', 10);
    t.record(memoReference(memo.blocks[1])).record(memoReference(memo.blocks[0]));
    write("in.dbf", t.build());
    write("in.dbt", memo.file);
    ASSERT_EQ(run("in.dbf", "out.dbf"), recoveryFixed);
    Bytes out = read("out.dbt");
    BuiltMemo expected = testing::dBase4MemoFile("in", 1024, {std::string(2000, 'b'), "alpha"});
    EXPECT_EQ(out, expected.file);
    Bytes table = read("out.dbf");
    std::size_t first = t.computedHeaderLength() + 1;
    EXPECT_EQ(slice(table, first, 10), memoReference(expected.blocks[0]));
    EXPECT_EQ(slice(table, first + 11, 10), memoReference(expected.blocks[1]));
}

TEST_F(RecoveryMemoTest, SmtMemosAreCarriedIntoAnSmtFile) {
    BuiltMemo memo = testing::smtMemoFile(512, {"first text", std::string(900, 's')});
    TableBuilder t(0xE5);
    t.field("NOTES", 'M', 10);
    t.record(memoReference(memo.blocks[1])).record(memoReference(memo.blocks[0]));
    write("in.dbf", t.build());
    write("in.smt", memo.file);
    ASSERT_EQ(run("in.dbf", "out.dbf"), recoveryFixed);
    Bytes out = read("out.smt");
    ASSERT_EQ(out.size(), 512u * 4);
    EXPECT_EQ(slice(out, 512, 900), std::string(900, 's'));
    EXPECT_EQ(slice(out, 1536, 11), std::string("first text") + '\0');
    Bytes table = read("out.dbf");
    EXPECT_EQ(slice(table, t.computedHeaderLength() + 1, 10), memoReference(1));
    EXPECT_EQ(slice(table, t.computedHeaderLength() + 12, 10), memoReference(3));
}

TEST_F(RecoveryMemoTest, Level7MemoIsCopiedUnchanged) {
    BuiltMemo memo = testing::dBase4MemoFile("in", 512, {"one", "two"});
    Bytes table(68, 0);
    table[0] = 0x8C;
    table[1] = 124;
    table[2] = 1;
    table[3] = 1;
    table[8] = 68 + 48 + 1;
    table[10] = 11;
    Bytes descriptor(48, 0);
    descriptor[0] = 'N';
    descriptor[32] = 'M';
    descriptor[33] = 10;
    table.insert(table.end(), descriptor.begin(), descriptor.end());
    table.push_back(0x0D);
    for (std::uint32_t block : {memo.blocks[1], memo.blocks[0]}) {
        std::string record = " " + memoReference(block);
        table.insert(table.end(), record.begin(), record.end());
    }
    table.push_back(0x1A);
    table[4] = 2;
    write("in.dbf", table);
    write("in.dbt", memo.file);
    ASSERT_EQ(run("in.dbf", "out.dbf"), recoveryFixed);
    EXPECT_EQ(read("out.dbt"), memo.file);
    EXPECT_EQ(read("out.dbf"), table);
    // The copied memo carries the table's time, as if both had been written together.
    EXPECT_EQ(std::filesystem::last_write_time(dir.file("out.dbt")),
              std::filesystem::last_write_time(dir.file("out.dbf")));
}

TEST_F(RecoveryMemoTest, InPlaceRepairReplacesTableAndMemoTogether) {
    BuiltMemo memo = testing::foxProMemoFile(64, {{1, bytesOf("gone")}, {1, bytesOf("stays")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10);
    t.record(memoReference(memo.blocks[0]), '*').record(memoReference(memo.blocks[1]));
    t.recordCount(7);
    write("t.dbf", t.build());
    write("t.fpt", memo.file);
    ASSERT_EQ(runDroppingDeleted("t.dbf", "t.dbf"), recoveryFixed);
    EXPECT_EQ(read("t.fpt"), testing::foxProMemoFile(64, {{1, bytesOf("stays")}}).file);
    TableBuilder expected(0xF5);
    expected.field("NOTES", 'M', 10).record(memoReference(8));
    EXPECT_EQ(read("t.dbf"), expected.build());
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"t.dbf", "t.fpt"}));

    // A second repair finds nothing more to change.
    ASSERT_EQ(run("t.dbf", "t.dbf"), recoveryFixed);
    EXPECT_EQ(read("t.dbf"), expected.build());
    EXPECT_EQ(read("t.fpt"), testing::foxProMemoFile(64, {{1, bytesOf("stays")}}).file);
}

// The memo work file is made afresh beside the output under a name of its own: a user's
// "tmpmemo.tmp" is neither read, overwritten nor removed, and nothing is left behind.
TEST_F(RecoveryMemoTest, TheUsersOwnTmpmemoIsNeitherUsedNorTouched) {
    Bytes users = testing::foxProMemoFile(64, {{1, bytesOf(std::string(300, 'x'))}}).file;
    write("tmpmemo.tmp", users);
    BuiltMemo memo = testing::foxProMemoFile(64, {{1, bytesOf("mine")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10).record(memoReference(memo.blocks[0]));
    write("in.dbf", t.build());
    write("in.fpt", memo.file);
    ASSERT_EQ(run("in.dbf", "out.dbf"), recoveryFixed);
    EXPECT_EQ(read("out.fpt"), memo.file);
    EXPECT_EQ(read("tmpmemo.tmp"), users);
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"in.dbf", "in.fpt", "out.dbf", "out.fpt", "tmpmemo.tmp"}));
}

#ifndef _WIN32 // sets a scene only POSIX can: another process's lock
// A work file whose owner still runs is left alone, and the runs do not collide; one whose
// owner is gone (nobody holds it) is removed by the next run on that table.
TEST_F(RecoveryMemoTest, WorkFilesOfALiveRunStayAndThoseOfADeadOneGo) {
    write(".t.fpt.salvora-live01", bytesOf("another run's"));
    write(".t.dbf.salvora-dead01", bytesOf("a killed run's"));
    write(".t.fpt.salvora-dead02", bytesOf("a killed run's"));
    int other = ::open(dir.file(".t.fpt.salvora-live01").c_str(), O_RDWR);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    BuiltMemo memo = testing::foxProMemoFile(64, {{1, bytesOf("mine")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10).record(memoReference(memo.blocks[0])).recordCount(5);
    write("t.dbf", t.build());
    write("t.fpt", memo.file);
    EXPECT_EQ(run("t.dbf", "t.dbf"), recoveryFixed);
    ::close(other);
    EXPECT_EQ(read("t.fpt"), memo.file);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{".t.fpt.salvora-live01", "t.dbf", "t.fpt"}));
}
#endif

TEST_F(RecoveryMemoTest, MissingMemoFileLeavesAnEmptyOneWithClearedReferences) {
    TableBuilder t(0x83);
    t.field("NOTES", 'M', 10).record(memoReference(3));
    write("in.dbf", t.build());
    ASSERT_EQ(run("in.dbf", "out.dbf"), recoveryFixed);
    EXPECT_EQ(read("out.dbt"), testing::dBase3MemoFile({}).file);
    Bytes out = read("out.dbf");
    EXPECT_EQ(slice(out, t.computedHeaderLength() + 1, 10), std::string(10, ' '));
    EXPECT_FALSE(testing::fileExists(dir.file("in.dbt")));
}

TEST_F(RecoveryMemoTest, UnterminatedDBase3MemosEndAtTheNextReferencedBlock) {
    // 1 MiB of text without a 0x1A, record k pointing at block k: each memo used to run to the
    // end of the file, a gigabyte of output.
    constexpr std::uint32_t blocks = 2048;
    Bytes memo(static_cast<std::size_t>(blocks) * 512, 'x');
    memo[0] = static_cast<std::uint8_t>(blocks);
    memo[1] = static_cast<std::uint8_t>(blocks >> 8);
    std::fill(memo.begin() + 4, memo.begin() + 512, 0);
    TableBuilder t(0x83);
    t.field("NOTES", 'M', 10);
    for (std::uint32_t k = 1; k < blocks; ++k)
        t.record(memoReference(k));
    write("in.dbf", t.build());
    write("in.dbt", memo);
    run("in.dbf", "out.dbf");
    Bytes out = read("out.dbt");
    // One block of text each, and its terminator in a block of its own.
    EXPECT_EQ(out.size(), 512u + (blocks - 1) * 1024u);
    EXPECT_EQ(slice(out, 512, 514), std::string(512, 'x') + "\x1a\x1a");

    // A check calls each of them a finding; the repaired pair, whose memos are ended, is sound.
    for (const char *table : {"in.dbf", "out.dbf"}) {
        RunReport report(table, ReportFormat::Text, nullptr, true);
        bool damaged = std::string(table) == "in.dbf";
        EXPECT_EQ(context.check(dir.file(table), report),
                  damaged ? CheckVerdict::NeedsRepair : CheckVerdict::Sound);
        EXPECT_EQ(report.totals().findings, damaged ? blocks - 1 : 0u) << table;
    }
}

// A record read off its grid can point into the middle of a long memo: the memo still ends
// at its own terminator, not at that block.
TEST_F(RecoveryMemoTest, AStrayReferenceIntoATextDoesNotCutIt) {
    std::string longText(700, 'y');
    BuiltMemo memo = testing::dBase3MemoFile({longText, "next"});
    TableBuilder t(0x83);
    t.field("NOTES", 'M', 10);
    t.record(memoReference(memo.blocks[0]));
    t.record(memoReference(memo.blocks[0] + 1)); // the long memo's second block
    t.record(memoReference(memo.blocks[1]));
    write("in.dbf", t.build());
    write("in.dbt", memo.file);
    run("in.dbf", "out.dbf");
    Bytes out = read("out.dbt");
    EXPECT_EQ(slice(out, 512, 702), longText + "\x1a\x1a");
}

} // namespace
} // namespace salvora
