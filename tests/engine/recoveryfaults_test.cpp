#include <gtest/gtest.h>

#include <algorithm>

#include "engine/keptoriginal.h"
#include "engine/pairjournal.h"
#include "engine/recovery.h"
#include "engine/reportjson.h"
#include "engine/tablecheck.h"
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

// The table's rename fails: the pair is put back as it was, or, when putting it back fails
// too, left with its journal and both finished files for the next run, which completes it.
TEST_F(RecoveryFaultTest, FailedRenameOverTheSourceIsUndoneOrLeftForTheNextRun) {
    ASSERT_EQ(run("out.dbf"), recoveryFixed);
    const Bytes repairedTable = read("out.dbf"), repairedMemo = read("out.fpt");
    struct Case {
        const char *undoFails; // what also fails after the table's rename; empty: nothing
    };
    for (Case c : {Case{""}, Case{"t.fpt"}, Case{".t.fpt.salvora-saved"}}) {
        reset();
        bool tableFailed = false;
        faults.failOperation(
            testing::Operation::Rename,
            [&](const std::string &p) {
                bool table = testing::pathEndsWith("t.dbf")(p);
                tableFailed |= table;
                return table;
            },
            platform::errorSharingViolation());
        // A rename is tried on its source name first: this catches the undo's moves only.
        std::string undo = c.undoFails;
        faults.failOperation(
            testing::Operation::Rename,
            [&](const std::string &p) {
                return tableFailed && !undo.empty() && testing::pathEndsWith(undo)(p);
            },
            testing::ioError());
        std::string shown;
        context.ownerlessMessage = [&shown](const std::string &text, const std::string &) {
            shown = text;
        };
        EXPECT_EQ(run(), recoveryUnusable) << undo;
        EXPECT_FALSE(shown.empty()) << undo;
        faults.clearFaults();
        if (undo.empty()) {
            EXPECT_EQ(read("t.dbf"), original.table);
            EXPECT_EQ(read("t.fpt"), original.memo);
            EXPECT_TRUE(leftovers().empty());
            continue;
        }
        EXPECT_NE(shown.find("the next repair of " + dir.file("t.dbf") + " completes"),
                  std::string::npos)
            << shown;
        JournalOutcome settled = settleJournal(faults, dir.file("t.dbf"));
        EXPECT_NE(settled.line.find("was completed"), std::string::npos) << settled.line;
        EXPECT_EQ(read("t.dbf"), repairedTable) << undo;
        EXPECT_EQ(read("t.fpt"), repairedMemo) << undo;
        EXPECT_TRUE(leftovers().empty()) << undo;
    }
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

// A bad spot in the record area: a read error that wears off loses nothing; one that stays
// loses only the records that touch what stays unreadable of its 512-byte piece, never replaces the
// source in place, and is named by the run and by a check.
TEST_F(RecoveryFaultTest, ReadErrorsAreSalvagedInPiecesAndNeverReadAsZeros) {
    ASSERT_EQ(run("whole.dbf"), recoveryFixed);
    const Bytes whole = read("whole.dbf");
    const std::uint64_t badSpot = 2000; // inside record 104 of 17 bytes each
    struct Case {
        const char *output;
        int times;
        int result;
    };
    for (Case c : {Case{"t.dbf", 1, recoveryFixed}, Case{"t.dbf", -1, recoveryUnusable},
                   Case{"out.dbf", -1, recoveryNothingProduced}}) {
        reset();
        faults.failReadsAt(testing::pathIs(dir.file("t.dbf")), badSpot, 1, testing::ioError(),
                           c.times);
        std::string what = std::string(c.output) + (c.times < 0 ? " always" : " once");
        RunReport report("t.dbf", ReportFormat::Json, nullptr, false);
        context.report = &report;
        EXPECT_EQ(run(c.output), c.result) << what;
        context.report = nullptr;
        faults.clearFaults();
        if (c.times > 0) {
            EXPECT_EQ(read("t.dbf"), whole) << what;
            continue;
        }
        EXPECT_NE(context.outcome.failure.find("read errors in " + dir.file("t.dbf") +
                                               " (48 bytes unreadable)"),
                  std::string::npos)
            << context.outcome.failure;
        if (std::string(c.output) == "t.dbf") {
            EXPECT_NE(context.outcome.failure.find("repair to another disk with /output:"),
                      std::string::npos);
            EXPECT_EQ(read("t.dbf"), original.table) << what;
            EXPECT_TRUE(leftovers().empty()) << what;
            continue;
        }
        EXPECT_NE(context.outcome.message.find("unreadable: bytes 2000 to 2047"), std::string::npos)
            << context.outcome.message;
        // The report counts the records and names the bytes.
        RunTotals totals = report.totals();
        EXPECT_EQ(totals.dropped[static_cast<std::size_t>(Finding::UnreadableRecord)], 3u);
        ASSERT_EQ(totals.unreadableStretches.size(), 1u);
        EXPECT_EQ(totals.unreadableStretches[0].start, 2000u);
        EXPECT_EQ(totals.unreadableStretches[0].last, 2047u);
        const std::string json = jsonReportClosing(totals);
        EXPECT_NE(json.find("\"unreadable\": 3}"), std::string::npos) << json;
        EXPECT_NE(json.find("\"unreadableBytes\": [{\"file\": " + jsonString(dir.file("t.dbf")) +
                            ", \"from\": 2000, \"to\": 2047}]"),
                  std::string::npos)
            << json;
        // The records wholly outside the bad piece are all there, none of them zeros.
        Bytes out = read("out.dbf");
        const std::size_t header = whole[8] | whole[9] << 8, length = whole[10] | whole[11] << 8;
        const std::size_t lost = (2048 - header + length - 1) / length - (2000 - header) / length;
        EXPECT_EQ(out.size(), whole.size() - lost * length) << what;
    }
    faults.failReadsAt(testing::pathIs(dir.file("t.dbf")), badSpot);
    RunReport report("t.dbf", ReportFormat::Text, nullptr, true);
    EXPECT_EQ(context.check(dir.file("t.dbf"), report), CheckVerdict::Unreadable);
    EXPECT_NE(report.summaryText().find("read errors at bytes 2000 to 2047"), std::string::npos)
        << report.summaryText();
}

// A bad spot in the memo file: a memo that touches it loses its reference, its record stays;
// the other memos come through; in place the source stays; a check names the bytes.
TEST_F(RecoveryFaultTest, MemoReadErrorsClearOnlyTheReferencesOfTheMemosTheyTouch) {
    ASSERT_EQ(run("whole.dbf"), recoveryFixed);
    const Bytes whole = read("whole.dbf"), wholeMemo = read("whole.fpt");
    const std::uint64_t badSpot = 600; // inside the second memo, block 9 of 64 bytes
    struct Case {
        const char *output;
        int times;
        int result;
    };
    for (Case c : {Case{"t.dbf", 1, recoveryFixed}, Case{"t.dbf", -1, recoveryUnusable},
                   Case{"out.dbf", -1, recoveryNothingProduced}}) {
        reset();
        faults.failReadsAt(testing::pathIs(dir.file("t.fpt")), badSpot, 1, testing::ioError(),
                           c.times);
        std::string what = std::string(c.output) + (c.times < 0 ? " always" : " once");
        RunReport report("t.dbf", ReportFormat::Text, nullptr, false);
        context.report = &report;
        EXPECT_EQ(run(c.output), c.result) << what;
        context.report = nullptr;
        faults.clearFaults();
        if (c.times > 0) {
            EXPECT_EQ(read("t.dbf"), whole) << what;
            EXPECT_EQ(read("t.fpt"), wholeMemo) << what;
            continue;
        }
        EXPECT_NE(context.outcome.failure.find("read errors in " + dir.file("t.fpt") +
                                               " (232 bytes unreadable)"),
                  std::string::npos)
            << context.outcome.failure;
        if (std::string(c.output) == "t.dbf") {
            EXPECT_EQ(read("t.dbf"), original.table) << what;
            EXPECT_EQ(read("t.fpt"), original.memo) << what;
            EXPECT_TRUE(leftovers().empty()) << what;
            continue;
        }
        EXPECT_NE(context.outcome.message.find("150 memo references unreadable"), std::string::npos)
            << context.outcome.message;
        // Every record is kept; every second one has lost its memo, the others have theirs.
        Bytes out = read("out.dbf");
        EXPECT_EQ(out.size(), whole.size());
        const std::size_t header = out[8] | out[9] << 8, length = out[10] | out[11] << 8;
        for (std::size_t i = 0; i < 2; ++i) {
            std::string reference(out.begin() + static_cast<long>(header + i * length + 9),
                                  out.begin() + static_cast<long>(header + i * length + 19));
            EXPECT_EQ(reference == std::string(10, ' '), i == 1) << reference;
        }
        Bytes memo = read("out.fpt");
        EXPECT_EQ(
            std::search(memo.begin(), memo.end(), wholeMemo.begin() + 584, wholeMemo.begin() + 600),
            memo.end());
        RunTotals totals = report.totals();
        EXPECT_EQ(totals.unreadableMemos, 150u);
        EXPECT_EQ(totals.kept, 300u);
        EXPECT_NE(report.summaryText().find("Unreadable memo references: 150"), std::string::npos)
            << report.summaryText();
    }
    faults.failReadsAt(testing::pathIs(dir.file("t.fpt")), badSpot);
    RunReport report("t.dbf", ReportFormat::Text, nullptr, true);
    EXPECT_EQ(context.check(dir.file("t.dbf"), report), CheckVerdict::Unreadable);
    EXPECT_NE(report.summaryText().find("read errors at bytes 600 to 831 of " + dir.file("t.fpt")),
              std::string::npos)
        << report.summaryText();
}

// A memo larger than what the new memo file holds back before writing, unreadable near its end:
// taken back whole, and the memo after it takes its place, with nothing of it left behind.
TEST_F(RecoveryFaultTest, ALargeUnreadableMemoIsTakenBackWhole) {
    const Bytes big(3u << 20, 'b');
    BuiltMemo memo = testing::foxProMemoFile(
        64, {{1, testing::bytesOf("before")}, {1, big}, {1, testing::bytesOf("after")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10);
    for (std::uint32_t block : memo.blocks)
        t.record(memoReference(block));
    testing::writeFile(dir.file("big.dbf"), t.build());
    testing::writeFile(dir.file("big.fpt"), memo.file);
    faults.failReadsAt(testing::pathIs(dir.file("big.fpt")), memo.blocks[2] * 64u - 200);
    EXPECT_EQ(context.run(nullptr, dir.file("big.dbf"), dir.file("out.dbf"), false),
              recoveryNothingProduced);
    faults.clearFaults();
    Bytes out = read("out.fpt");
    auto text = [&](std::size_t at, std::size_t n) {
        return std::string(out.begin() + static_cast<long>(at),
                           out.begin() + static_cast<long>(at + n));
    };
    ASSERT_EQ(out.size(), 512u + 2 * 64u);
    EXPECT_EQ(text(512 + 8, 6), "before");
    EXPECT_EQ(text(576 + 8, 5), "after");
    EXPECT_EQ(out[3], 10); // the next free block
}

// A header that cannot be read is never rebuilt from zeros: the run and the check fail and
// name the bytes, and nothing is written.
TEST_F(RecoveryFaultTest, AnUnreadableHeaderFailsClearly) {
    struct Case {
        const char *file;
        std::uint64_t badSpot;
        const char *failure;
        const char *checked;
    };
    for (Case c : {Case{"t.dbf", 10, " (502 bytes unreadable): its header cannot be read",
                        "read errors at bytes 10 to 511: the header cannot be read"},
                   Case{"t.fpt", 100, " (412 bytes unreadable): its header cannot be read",
                        "read errors at bytes 100 to 511 of "}}) {
        reset();
        faults.failReadsAt(testing::pathIs(dir.file(c.file)), c.badSpot);
        EXPECT_NE(run("out.dbf"), recoveryFixed) << c.file;
        EXPECT_NE(context.outcome.failure.find("read errors in " + dir.file(c.file) + c.failure),
                  std::string::npos)
            << context.outcome.failure;
        EXPECT_FALSE(testing::fileExists(dir.file("out.dbf"))) << c.file;
        EXPECT_FALSE(testing::fileExists(dir.file("out.fpt"))) << c.file;
        EXPECT_TRUE(leftovers().empty()) << c.file;
        RunReport report("t.dbf", ReportFormat::Text, nullptr, true);
        EXPECT_EQ(context.check(dir.file("t.dbf"), report), CheckVerdict::Unreadable) << c.file;
        EXPECT_NE(report.summaryText().find(c.checked), std::string::npos) << report.summaryText();
    }
}

// A header that goes bad while the run reads it again, after the analysis read it whole: the
// run either comes through whole or fails as above, never with a header of zeros.
TEST_F(RecoveryFaultTest, AHeaderThatGoesBadLaterNeverBecomesZeros) {
    ASSERT_EQ(run("whole.dbf"), recoveryFixed);
    const Bytes whole = read("whole.dbf");
    int failed = 0;
    for (int spared = 1; spared <= 4; ++spared) {
        reset();
        faults.failReadsAt(testing::pathIs(dir.file("t.dbf")), 10, 1, testing::ioError(), -1,
                           spared);
        if (run("out.dbf") == recoveryFixed) {
            EXPECT_EQ(read("out.dbf"), whole) << spared;
            continue;
        }
        ++failed;
        EXPECT_NE(context.outcome.failure.find("its header cannot be read"), std::string::npos)
            << spared << ": " << context.outcome.failure;
        EXPECT_FALSE(testing::fileExists(dir.file("out.dbf"))) << spared;
        EXPECT_TRUE(leftovers().empty()) << spared;
    }
    EXPECT_GT(failed, 0);
}

// A crash at any step of a repair, then the next run: between them the journal makes the pair
// whole again (both old or both repaired), and the next run leaves no file of its own behind.
TEST_F(RecoveryFaultTest, ACrashAnywhereLeavesThePairWholeForTheNextRun) {
    struct Case {
        const char *output;
        bool outputExisted;
    };
    for (Case c : {Case{"t.dbf", true}, Case{"out.dbf", true}, Case{"new.dbf", false}}) {
        const std::string table = c.output;
        const std::string memo = table.substr(0, table.size() - 3) + "fpt";
        auto prepare = [&] {
            reset();
            if (table != "t.dbf" && c.outputExisted) {
                testing::writeFile(dir.file(table), original.table);
                testing::writeFile(dir.file(memo), original.memo);
            }
        };
        auto pairNow = [&] {
            return std::make_pair(testing::fileExists(dir.file(table)) ? read(table) : Bytes{},
                                  testing::fileExists(dir.file(memo)) ? read(memo) : Bytes{});
        };
        prepare();
        const auto before = pairNow();
        ASSERT_EQ(run(table), recoveryFixed) << table;
        const auto repaired = pairNow();
        const std::uint64_t steps = faults.mutatingOperations();
        // Every step of the installation (the last two dozen); the writing before it in strides.
        const std::uint64_t installing = steps > 24 ? steps - 24 : 0;

        for (std::uint64_t k = 0; k <= steps; k += k < installing ? 211 : 1) {
            prepare();
            faults.crashAfter(k);
            run(table);
            faults.clearFaults();
            bool journalLeft = testing::fileExists(journalPath(dir.file(table)));
            JournalOutcome settled = settleJournal(faults, dir.file(table));
            ASSERT_FALSE(settled.blocks()) << table << " step " << k << ": " << settled.line;
            const auto now = pairNow();
            ASSERT_TRUE(now == before || now == repaired)
                << table << " step " << k << (journalLeft ? " (journal)" : "");
            ASSERT_EQ(read("t.dbf"), table == "t.dbf" ? now.first : original.table);

            ASSERT_EQ(run(table), recoveryFixed) << table << " step " << k;
            std::vector<std::string> expected = {"t.dbf", "t.fpt"};
            if (table != "t.dbf")
                expected.insert(expected.end(), {table, memo});
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(dir.names(), expected) << table << " step " << k;
        }
    }
}

// A journal found by the next run: completed when both finished files wait, undone when the
// table's is gone, left alone when damaged; a check only reports it.
TEST_F(RecoveryFaultTest, AJournalIsCompletedUndoneOrLeftAlone) {
    ASSERT_EQ(run("out.dbf"), recoveryFixed);
    const Bytes repairedTable = read("out.dbf"), repairedMemo = read("out.fpt");
    struct Case {
        const char *what;
        bool tableWaits;
        int damage; // 0 none, 1 cut short, 2 overwritten
        JournalState state;
        const char *line;
    };
    for (Case c : {Case{"forward", true, 0, JournalState::Settled, "was completed"},
                   Case{"back", false, 0, JournalState::Settled, "was undone"},
                   Case{"cut", true, 1, JournalState::Settled, "changed nothing"},
                   Case{"damaged", true, 2, JournalState::Damaged, "damaged journal"}}) {
        reset();
        const std::string finishedTable = dir.file(".t.dbf.salvora-abcdef");
        const std::string finishedMemo = dir.file(".t.fpt.salvora-abcdef");
        if (c.tableWaits)
            testing::writeFile(finishedTable, repairedTable);
        testing::writeFile(finishedMemo, repairedMemo);
        testing::writeFile(dir.file(".t.fpt.salvora-saved"), original.memo);
        PairJournal journal{finishedTable,
                            dir.file("t.dbf"),
                            finishedMemo,
                            dir.file("t.fpt"),
                            dir.file(".t.fpt.salvora-saved"),
                            {},
                            {}};
        ASSERT_EQ(writeJournal(faults, journal), 0);
        if (c.damage != 0) {
            Bytes text = read(".t.dbf.salvora-jrnl");
            if (c.damage == 1)
                text.resize(text.size() - 2);
            else
                text[3] = 'X';
            testing::writeFile(dir.file(".t.dbf.salvora-jrnl"), text);
        }
        RunReport report("t.dbf", ReportFormat::Text, nullptr, true);
        EXPECT_EQ(context.check(dir.file("t.dbf"), report), CheckVerdict::NeedsRepair) << c.what;
        EXPECT_NE(report.summaryText().find("needs repair"), std::string::npos) << c.what;
        EXPECT_TRUE(testing::fileExists(finishedMemo)) << c.what;

        JournalOutcome settled = settleJournal(faults, dir.file("t.dbf"));
        EXPECT_EQ(settled.state, c.state) << c.what;
        EXPECT_NE(settled.line.find(c.line), std::string::npos) << settled.line;
        bool forward = c.state == JournalState::Settled && c.tableWaits && c.damage == 0;
        EXPECT_EQ(read("t.dbf"), forward ? repairedTable : original.table) << c.what;
        EXPECT_EQ(read("t.fpt"), forward ? repairedMemo : original.memo) << c.what;
        if (c.damage == 2) {
            EXPECT_EQ(run(), recoveryNothingProduced);
            EXPECT_NE(context.messageText.find("damaged journal"), std::string::npos);
            EXPECT_EQ(read("t.dbf"), original.table);
        } else {
            EXPECT_FALSE(testing::fileExists(dir.file(".t.dbf.salvora-jrnl"))) << c.what;
            if (c.damage == 0) {
                EXPECT_TRUE(leftovers().empty()) << c.what;
            }
        }
    }
}

TEST(KeptName, NumbersAfterTheFirstAndFollowsTheExtensionsCase) {
    struct Case {
        const char *path;
        int number;
        const char *kept;
    };
    for (Case c : {Case{"dir/NAME.dbf", 1, "dir/NAME.bak.dbf"},
                   Case{"NAME.DBF", 2, "NAME.BAK2.DBF"}, Case{"t.FPT", 12, "t.BAK12.FPT"},
                   Case{"a.b/t.Dbf", 1, "a.b/t.bak.Dbf"}, Case{"x.d/NAME", 3, "x.d/NAME.bak3"}})
        EXPECT_EQ(keptName(c.path, c.number), c.kept) << c.path;
}

// Each in-place repair keeps what it replaces under the next free number, memo beside table,
// and never overwrites an earlier backup.
TEST_F(RecoveryFaultTest, KeepingTheOriginalNumbersTheBackups) {
    context.options.keepOriginal = 1;
    ASSERT_EQ(run(), recoveryFixed);
    EXPECT_EQ(context.outcome.keptTable, dir.file("t.bak.dbf"));
    EXPECT_NE(context.outcome.message.find("The original was kept as " + dir.file("t.bak.dbf")),
              std::string::npos)
        << context.outcome.message;
    const Bytes repairedTable = read("t.dbf"), repairedMemo = read("t.fpt");
    EXPECT_NE(repairedTable, original.table);
    EXPECT_EQ(read("t.bak.dbf"), original.table);
    EXPECT_EQ(read("t.bak.fpt"), original.memo);
    // A backup of the table alone still takes the pair's number: the next is 3.
    testing::writeFile(dir.file("t.bak2.fpt"), {1});
    ASSERT_EQ(run(), recoveryFixed);
    EXPECT_EQ(read("t.bak.dbf"), original.table);
    EXPECT_EQ(read("t.bak3.dbf"), repairedTable);
    EXPECT_EQ(read("t.bak3.fpt"), repairedMemo);
    EXPECT_EQ(read("t.dbf"), repairedTable);
    EXPECT_EQ(dir.names(),
              (std::vector<std::string>{"t.bak.dbf", "t.bak.fpt", "t.bak2.fpt", "t.bak3.dbf",
                                        "t.bak3.fpt", "t.dbf", "t.fpt"}));

    // Upper-case names keep their style; a new output has nothing to keep.
    reset();
    // Written afresh: a rename that changes only the case may keep the old spelling.
    std::filesystem::remove(dir.file("t.dbf"));
    std::filesystem::remove(dir.file("t.fpt"));
    testing::writeFile(dir.file("T.DBF"), original.table);
    testing::writeFile(dir.file("T.FPT"), original.memo);
    ASSERT_EQ(context.run(nullptr, dir.file("T.DBF"), dir.file("T.DBF"), false), recoveryFixed);
    ASSERT_EQ(context.run(nullptr, dir.file("T.DBF"), dir.file("new.dbf"), false), recoveryFixed);
    EXPECT_TRUE(context.outcome.keptTable.empty());
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"T.BAK.DBF", "T.BAK.FPT", "T.DBF", "T.FPT",
                                                     "new.dbf", "new.fpt"}));
    EXPECT_EQ(read("T.BAK.DBF"), original.table);
}

// A crash at any step of a repair that keeps the original: after the journal is settled the
// folder holds the original pair alone, or the repaired pair and the original as backup.
TEST_F(RecoveryFaultTest, KeepingTheOriginalSurvivesACrashAtEveryStep) {
    context.options.keepOriginal = 1;
    ASSERT_EQ(run(), recoveryFixed);
    const Bytes repairedTable = read("t.dbf"), repairedMemo = read("t.fpt");
    const std::uint64_t steps = faults.mutatingOperations();
    const std::uint64_t installing = steps > 24 ? steps - 24 : 0;
    for (std::uint64_t k = 0; k <= steps; k += k < installing ? 97 : 1) {
        reset();
        faults.crashAfter(k);
        run();
        faults.clearFaults();
        JournalOutcome settled = settleJournal(faults, dir.file("t.dbf"));
        ASSERT_FALSE(settled.blocks()) << "step " << k << ": " << settled.line;
        std::vector<std::string> names = leftovers();
        bool kept = testing::fileExists(dir.file("t.bak.dbf"));
        if (kept) {
            ASSERT_EQ(read("t.dbf"), repairedTable) << "step " << k;
            ASSERT_EQ(read("t.fpt"), repairedMemo) << "step " << k;
            ASSERT_EQ(read("t.bak.dbf"), original.table) << "step " << k;
            ASSERT_EQ(read("t.bak.fpt"), original.memo) << "step " << k;
        } else {
            ASSERT_EQ(read("t.dbf"), original.table) << "step " << k;
            ASSERT_EQ(read("t.fpt"), original.memo) << "step " << k;
            ASSERT_FALSE(testing::fileExists(dir.file("t.bak.fpt"))) << "step " << k;
        }
        ASSERT_EQ(run(), recoveryFixed) << "step " << k;
        for (const std::string &name : dir.names())
            EXPECT_NE(name.front(), '.') << name << " step " << k;
    }
}

// A failed rename in the middle puts every file back under its old name.
TEST_F(RecoveryFaultTest, KeepingTheOriginalUndoesAFailedStep) {
    context.options.keepOriginal = 1;
    for (const char *failing : {"t.bak.dbf", "t.fpt", "t.dbf"}) {
        reset();
        faults.failOperation(testing::Operation::Rename, testing::pathEndsWith(failing),
                             platform::errorSharingViolation());
        EXPECT_EQ(run(), recoveryUnusable) << failing;
        faults.clearFaults();
        EXPECT_EQ(read("t.dbf"), original.table) << failing;
        EXPECT_EQ(read("t.fpt"), original.memo) << failing;
        EXPECT_TRUE(leftovers().empty()) << failing;
    }
}

} // namespace
} // namespace salvora
