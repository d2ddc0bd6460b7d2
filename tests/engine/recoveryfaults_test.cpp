#include <gtest/gtest.h>

#include <algorithm>

#include "engine/recovery.h"
#include "tests/support/enginerun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/memobuilder.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::BuiltMemo;
using testing::Bytes;
using testing::FaultPlatform;
using testing::memoReference;
using testing::TableBuilder;

// A table with a memo file that needs repairing: a wrong count and a deleted record's memo.
struct Damaged {
    Bytes table;
    Bytes memo;
};

Damaged damagedPair() {
    BuiltMemo memo = testing::foxProMemoFile(
        64, {{1, testing::bytesOf("first")}, {1, testing::bytesOf(std::string(200, 's'))}});
    TableBuilder t(0xF5);
    t.field("NAME", 'C', 8).field("NOTES", 'M', 10);
    for (int i = 0; i < 300; ++i) {
        std::string name = "row" + std::to_string(i);
        name.resize(8, ' ');
        t.record(name + memoReference(memo.blocks[i % 2]));
    }
    t.recordCount(12);
    return {t.build(), memo.file};
}

class RecoveryFaultTest : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void reset() {
        faults.clearFaults();
        for (const std::string &name : dir.names())
            std::filesystem::remove(dir.file(name));
        testing::writeFile(dir.file("t.dbf"), original.table);
        testing::writeFile(dir.file("t.fpt"), original.memo);
    }
    int run(const std::string &output = "t.dbf") {
        return context.run(nullptr, dir.file("t.dbf"), dir.file(output), false);
    }
    Bytes read(const std::string &name) { return testing::readFile(dir.file(name)); }
    std::vector<std::string> leftovers() {
        std::vector<std::string> names = dir.names();
        names.erase(
            std::remove_if(names.begin(), names.end(),
                           [](const std::string &n) { return n == "t.dbf" || n == "t.fpt"; }),
            names.end());
        return names;
    }

    testing::TempDir dir;
    testing::WorkingFolder cwd{dir.path()};
    FaultPlatform faults;
    testing::EngineRun context{faults};
    Damaged original = damagedPair();
};

TEST_F(RecoveryFaultTest, DiskFullWhileWritingLeavesTheSourceAndNoLeftovers) {
    for (std::uint64_t room : {0u, 100u, 5000u}) {
        reset();
        faults.failWritesAfter(room);
        EXPECT_EQ(run(), recoveryNothingProduced) << room;
        EXPECT_EQ(context.lastError, platform::errorDiskFull());
        EXPECT_NE(context.messageText.find("Cannot write"), std::string::npos);
        EXPECT_EQ(read("t.dbf"), original.table);
        EXPECT_EQ(read("t.fpt"), original.memo);
        EXPECT_TRUE(leftovers().empty()) << room;
    }
}

TEST_F(RecoveryFaultTest, DiskFullOnlyForTheMemoStopsTheRunToo) {
    faults.failWritesAfter(
        600, [](const std::string &p) { return p.find(".fpt.salvora-") != std::string::npos; });
    EXPECT_EQ(run("out.dbf"), recoveryNothingProduced);
    EXPECT_FALSE(testing::fileExists(dir.file("out.dbf")));
    EXPECT_FALSE(testing::fileExists(dir.file("out.fpt")));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(RecoveryFaultTest, FailedRenameOverTheSourceIsAFailureAndChangesNothing) {
    faults.failOperation(testing::Operation::Rename, testing::pathEndsWith("t.dbf"),
                         platform::errorSharingViolation());
    std::string shown;
    context.ownerlessMessage = [&shown](const std::string &text, const std::string &) {
        shown = text;
    };
    EXPECT_EQ(run(), recoveryUnusable);
    EXPECT_FALSE(shown.empty());
    EXPECT_EQ(read("t.dbf"), original.table);
    EXPECT_EQ(read("t.fpt"), original.memo);
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(RecoveryFaultTest, RecordsAreReadAndWrittenInLargeBlocks) {
    faults.resetCounters();
    ASSERT_EQ(run("out.dbf"), recoveryFixed);
    auto workFiles = [](const std::string &p) {
        return p.find(".dbf.salvora-") != std::string::npos;
    };
    EXPECT_LT(faults.counters(testing::pathIs(dir.file("t.dbf"))).reads, 10u);
    EXPECT_LT(faults.counters(workFiles).writes, 20u); // 300 records
}

// Stops the run at every step it takes and checks that the table is always either the
// original or the finished repair, and that the original memo is never lost.
TEST_F(RecoveryFaultTest, InPlaceRepairSurvivesACrashAtEveryStep) {
    ASSERT_EQ(run(), recoveryFixed);
    const Bytes repairedTable = read("t.dbf");
    const Bytes repairedMemo = read("t.fpt");
    const std::uint64_t steps = faults.mutatingOperations();
    ASSERT_GT(steps, 5u);

    for (std::uint64_t k = 0; k <= steps; ++k) {
        reset();
        faults.crashAfter(k);
        run();
        faults.clearFaults();
        Bytes table = read("t.dbf");
        bool oldTable = table == original.table;
        ASSERT_TRUE(oldTable || table == repairedTable) << "step " << k;
        ASSERT_TRUE(testing::fileExists(dir.file("t.fpt"))) << "step " << k;
        Bytes memo = read("t.fpt");
        if (!oldTable) {
            EXPECT_EQ(memo, repairedMemo) << "step " << k;
            continue;
        }
        if (memo == original.memo)
            continue;
        // Between the two renames: the old memo waits beside it under a temporary name.
        EXPECT_EQ(memo, repairedMemo) << "step " << k;
        bool kept = false;
        for (const std::string &name : leftovers())
            kept |= read(name) == original.memo;
        EXPECT_TRUE(kept) << "step " << k;
    }
}

} // namespace
} // namespace salvora
