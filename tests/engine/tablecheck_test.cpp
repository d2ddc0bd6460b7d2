// The check of a table: the verdict on a sound table and on each class of damage, with no
// byte written, no file made and the source never opened for writing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/tablecheck.h"
#include "tests/support/enginerun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/memobuilder.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::memoReference;
using testing::TableBuilder;
using testing::TempDir;

TableBuilder people() {
    TableBuilder t;
    t.field("NAME", 'C', 6).field("OK", 'L', 1).field("BORN", 'D', 8).field("AGE", 'N', 3);
    t.record("Alice T20010203 30").record("Bob   F19991231  4", '*');
    return t;
}

class TableCheckTest : public ::testing::Test {
  protected:
    TableCheckTest() {
        // Any attempt to write the source must fail the check, not pass unseen.
        os.failOpen(testing::anyPath(), platform::errorInvalidArgument(),
                    platform::Access::ReadWrite);
    }

    CheckVerdict check(const Bytes &table, const std::string &name = "t.dbf") {
        testing::writeFile(dir.file(name), table);
        return checkFile(name);
    }
    CheckVerdict checkFile(const std::string &name) {
        std::vector<std::string> before = dir.names();
        std::uint64_t mutating = os.mutatingOperations();
        std::uint64_t written = os.counters().bytesWritten;
        report = std::make_unique<RunReport>(name, ReportFormat::Text, nullptr, true);
        CheckVerdict verdict = context.check(dir.file(name), *report);
        EXPECT_EQ(os.mutatingOperations(), mutating);
        EXPECT_EQ(os.counters().bytesWritten, written);
        EXPECT_EQ(dir.names(), before) << "a check makes no file";
        EXPECT_EQ(context.globalFlags, 0u) << "and leaves the open flags of later runs alone";
        return verdict;
    }

    TempDir dir;
    testing::FaultPlatform os;
    testing::EngineRun context{os};
    std::unique_ptr<RunReport> report;
};

TEST_F(TableCheckTest, SoundTableNeedsNoRepair) {
    EXPECT_EQ(check(people().build()), CheckVerdict::Sound);
    EXPECT_EQ(report->findingCount(), 0u);
    EXPECT_NE(report->summaryText().find("Verdict: no repair needed\r\n"), std::string::npos);
}

TEST_F(TableCheckTest, SoundMemoTableNeedsNoRepairAndCountsItsMemos) {
    testing::BuiltMemo memo = testing::foxProMemoFile(64, {{1, bytesOf("a")}, {1, bytesOf("b")}});
    testing::writeFile(dir.file("t.fpt"), memo.file);
    TableBuilder t(0xF5);
    t.field("NAME", 'C', 4).field("NOTES", 'M', 10);
    t.record("aaaa" + memoReference(memo.blocks[0])).record("bbbb" + memoReference(memo.blocks[1]));
    EXPECT_EQ(check(t.build()), CheckVerdict::Sound);
    EXPECT_NE(report->summaryText().find("Memos carried: 2\r\n"), std::string::npos);
}

TEST_F(TableCheckTest, EachDamageClassNeedsARepair) {
    struct Damage {
        const char *what;
        Bytes table;
    };
    Bytes sound = people().build();
    std::size_t firstRecord = people().computedHeaderLength();
    auto changed = [&](std::size_t at, const std::string &bytes) {
        Bytes b = sound;
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
        return b;
    };
    Bytes wrecked = sound;
    std::fill(wrecked.begin(), wrecked.begin() + 32, 0xFF);
    std::vector<Damage> damages = {
        {"header rebuilt", wrecked},
        {"header after junk", testing::concat(bytesOf("junk"), sound)},
        {"record count", TableBuilder(people()).recordCount(9).build()},
        {"date missing", TableBuilder(people()).date(124, 5, 0).build()},
        {"deletion flag", changed(firstRecord, "x")},
        {"logical", changed(firstRecord + 7, "1")},
        {"date", changed(firstRecord + 8, "2001 2 3")},
        {"number", changed(firstRecord + 16, "3-0")},
    };
    for (const Damage &damage : damages) {
        SCOPED_TRACE(damage.what);
        EXPECT_EQ(check(damage.table), CheckVerdict::NeedsRepair);
        EXPECT_GE(report->findingCount(), 1u);
        EXPECT_NE(report->summaryText().find("Verdict: needs repair\r\n"), std::string::npos);
    }
}

TEST_F(TableCheckTest, InvalidOrMissingMemosNeedARepair) {
    testing::BuiltMemo memo = testing::foxProMemoFile(64, {{1, bytesOf("a")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10).record(memoReference(memo.blocks[0])).record(memoReference(777));
    testing::writeFile(dir.file("t.fpt"), memo.file);
    EXPECT_EQ(check(t.build()), CheckVerdict::NeedsRepair);
    EXPECT_NE(report->summaryText().find("Invalid memo references: 1\r\n"), std::string::npos);

    TableBuilder lost(0xF5);
    lost.field("NOTES", 'M', 10).record(memoReference(memo.blocks[0]));
    EXPECT_EQ(check(lost.build(), "lost.dbf"), CheckVerdict::NeedsRepair)
        << "a memo file that is not there loses every reference";
}

TEST_F(TableCheckTest, FiltersCountAsTheRepairWouldApplyThem) {
    EXPECT_EQ(check(people().build()), CheckVerdict::Sound);
    context.options.pack = 1;
    EXPECT_EQ(check(people().build()), CheckVerdict::NeedsRepair);
    EXPECT_NE(report->summaryText().find("Dropped by /pack: 1\r\n"), std::string::npos);
}

TEST_F(TableCheckTest, UnreadableSources) {
    EXPECT_EQ(check(bytesOf("this is not a table at all")), CheckVerdict::Unreadable);
    EXPECT_NE(report->summaryText().find("Verdict: cannot be read\r\n"), std::string::npos);
    EXPECT_EQ(checkFile("missing.dbf"), CheckVerdict::Unreadable);
}

TEST_F(TableCheckTest, ReadOnlySourceIsCheckedAndKeepsItsAttribute) {
    testing::writeFile(dir.file("t.dbf"), people().build());
    ASSERT_EQ(os.setReadOnly(dir.file("t.dbf"), true), 0);
    EXPECT_EQ(checkFile("t.dbf"), CheckVerdict::Sound);
    auto attributes = os.getAttributes(dir.file("t.dbf"));
    ASSERT_TRUE(attributes.has_value());
    EXPECT_TRUE(attributes->readOnly);
    os.setReadOnly(dir.file("t.dbf"), false);
}

} // namespace
} // namespace salvora
