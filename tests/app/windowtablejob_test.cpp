// One table from the window's Start on its worker: a check writes nothing, a report goes to
// the file named, and the results box counts what happened.
#include <gtest/gtest.h>

#include "app/windowtablejob.h"
#include "tests/support/fakeappsystem.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

// Two good records, one with a date that is no date, one marked as deleted.
Bytes tableWithDrops() {
    return TableBuilder()
        .field("NAME", 'C', 10)
        .field("BORN", 'D', 8)
        .record("Alice     20010203")
        .record("Bob       2001XX03")
        .record("Carol     20010203", '*')
        .record("Dave      20020304")
        .recordCount(9)
        .build();
}

struct JobRun {
    TempDir dir;
    FakeAppSystem system;
    EngineContext engine{platform::nativePlatform()};
    AppContext app{engine, system};
    RunObserver observer;
    RunTexts texts;

    std::string results;
    RecoveryOutcome outcome;

    void run(bool checkOnly, const std::string &report, RecoveryOptions options = {}) {
        RecoveryRequest request;
        request.source = dir.file("t.dbf");
        request.output = dir.file("fixed.dbf");
        request.options = options;
        request.texts = texts;
        WindowTableJob job(request, checkOnly, report);
        outcome = job.run(engine, observer);
        results = job.resultsText(app, outcome, "Recoverable records: 2\r\n");
    }
};

TEST(WindowTableJob, RepairCountsEachReasonAndNamesTheOutput) {
    JobRun r;
    writeFile(r.dir.file("t.dbf"), tableWithDrops());
    RecoveryOptions pack;
    pack.pack = 1;
    r.run(false, "", pack);
    ASSERT_EQ(r.outcome.result, recoveryFixed);
    EXPECT_EQ(r.results, "Recoverable records: 2\r\n"
                         "Records read: 4\r\nRecords kept: 2\r\nRecords dropped: 2\r\n"
                         "  marked as deleted (Pack): 1\r\n  bad date: 1\r\n"
                         "Memos carried: 0\r\nMemo references cleared: 0\r\n"
                         "Output: " +
                             r.dir.file("fixed.dbf") + "\r\n");
}

// The window's language changes its results box, never the report that programs read.
TEST(WindowTableJob, AReportKeepsTheCommandLinesWordsInAnyLanguage) {
    JobRun r;
    writeFile(r.dir.file("t.dbf"), TableBuilder(0x05).field("NAME", 'C', 10).record("a").build());
    r.run(false, r.dir.file("english.txt"));
    ASSERT_EQ(r.outcome.result, recoveryUnusable);
    r.texts.analysing = "Datei wird analysiert...\r\n";
    r.texts.unknownType = "Datei nicht wiederherstellbar";
    r.run(false, r.dir.file("german.txt"));
    EXPECT_EQ(r.outcome.message, "Datei wird analysiert...\r\nDatei nicht wiederherstellbar");
    Bytes english = readFile(r.dir.file("english.txt"));
    EXPECT_NE(std::string(english.begin(), english.end()).find("Unrecoverable file"),
              std::string::npos);
    EXPECT_EQ(readFile(r.dir.file("german.txt")), english);
}

TEST(WindowTableJob, CheckWritesNothingAndListsTheFindings) {
    JobRun r;
    writeFile(r.dir.file("t.dbf"), tableWithDrops());
    std::string report = r.dir.file("why.csv");
    r.run(true, report);
    EXPECT_EQ(r.outcome.result, recoveryNothingProduced);
    EXPECT_EQ(r.dir.names(), (std::vector<std::string>{"t.dbf", "why.csv"}));
    EXPECT_EQ(readFile(r.dir.file("t.dbf")), tableWithDrops());
    EXPECT_EQ(r.results.rfind("Check only: nothing was written.\r\n"
                              "The table needs a repair.\r\nRecords read: 4\r\n",
                              0),
              0u)
        << r.results;
    EXPECT_NE(r.results.find("\r\nRecord 2, field BORN: date \"2001XX03\" is not YYYYMMDD"),
              std::string::npos)
        << r.results;
    EXPECT_NE(r.results.find("Report: " + report + "\r\n"), std::string::npos);
    Bytes csv = readFile(report);
    EXPECT_EQ(std::string(csv.begin(), csv.end()).rfind("record,field,problem,action\r\n", 0), 0u);
}

TEST(WindowTableJob, AReportNamedLikeAFileOfTheRunIsNotWritten) {
    for (const char *name : {"t.dbf", "fixed.dbf"}) {
        JobRun r;
        writeFile(r.dir.file("t.dbf"), tableWithDrops());
        r.run(false, r.dir.file(name));
        EXPECT_EQ(r.outcome.result, recoveryFixed) << name;
        EXPECT_NE(r.results.find("Report not written: the report would overwrite a file of the "
                                 "run\r\n"),
                  std::string::npos)
            << name;
        EXPECT_EQ(storedCount(readFile(r.dir.file("fixed.dbf"))), 3u)
            << name << ": the output is the repair, not a report";
    }
}

} // namespace
} // namespace salvora::testing
