// The built program run with real argument vectors: single-file runs and their logs, the
// switches, several names from the shell, exit codes, help and the modes without a table.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/commandline.h"
#include "tests/support/programrunner.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

Bytes goodTable() {
    return TableBuilder()
        .field("NAME", 'C', 10)
        .field("AGE", 'N', 3)
        .record("Alice      30")
        .record("Bob        41", '*')
        .build();
}

std::uint32_t recordCount(const Bytes &table) {
    return table.size() < 8 ? 0
                            : static_cast<std::uint32_t>(table[4] | table[5] << 8 | table[6] << 16 |
                                                         table[7] << 24);
}

class Cli : public ::testing::Test {
  protected:
    TempDir dir;
    TempDir config;

    ProgramResult run(const std::vector<std::string> &arguments) {
        return runProgram(
            {SALVORA_PROGRAM, arguments, dir.path(), {{"XDG_CONFIG_HOME", config.path()}}});
    }
    void put(const std::string &name, const Bytes &bytes = goodTable()) {
        writeFile(dir.file(name), bytes);
    }
    std::string text(const std::string &name) { return textOf(readFile(dir.file(name))); }
};

TEST_F(Cli, SingleTableInPlaceWritesItsLogWithTheOneLine) {
    put("x.dbf");
    std::string source = dir.file("x.dbf");
    ProgramResult result = run({source});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "Salvora v4.79\n" + source + ": OK\n");
    EXPECT_EQ(text("x.log"), source + ": OK\r\n");
    EXPECT_EQ(recordCount(readFile(source)), 2u);
}

TEST_F(Cli, UnusableSourceIsReportedAndFailsTheExitCode) {
    put("bad.dbf", bytesOf("this is not a table"));
    ProgramResult result = run({"bad.dbf"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(text("bad.log"), "bad.dbf: Unrecoverable\r\n");
    ProgramResult missing = run({"missing.dbf", "/output:out.dbf"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(text("out.log"), "missing.dbf: Failed: No such file or directory\r\n");
}

TEST_F(Cli, OutputCountsBeforeAndAfterTheSwitches) {
    const std::vector<std::vector<std::string>> lines = {
        {"x.dbf", "/output:y.dbf", "/pack"},
        {"x.dbf", "/pack", "/output:y.dbf"},
        {"x.dbf", "/PACK", "/Output:y.dbf"},
        {"x.dbf", "--pack", "--output=y.dbf"},
    };
    for (const auto &line : lines) {
        put("x.dbf");
        std::filesystem::remove(dir.file("y.dbf"));
        ProgramResult result = run(line);
        SCOPED_TRACE(line[1] + " " + line[2]);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(readFile(dir.file("x.dbf")), goodTable()) << "the source must stay untouched";
        EXPECT_EQ(recordCount(readFile(dir.file("y.dbf"))), 1u) << "packed";
        EXPECT_EQ(text("y.log"), "x.dbf: OK\r\n");
    }
}

TEST_F(Cli, OptionSwitchesTakeEffectWhereverTheyStand) {
    put("x.dbf");
    ASSERT_EQ(run({"/pack", "x.dbf", "/output:y.dbf"}).exitCode, 0);
    EXPECT_EQ(recordCount(readFile(dir.file("y.dbf"))), 1u);
    ASSERT_EQ(run({"x.dbf", "/output:z.dbf", "/delempty"}).exitCode, 0);
    EXPECT_EQ(recordCount(readFile(dir.file("z.dbf"))), 2u) << "/delempty does not pack";
}

TEST_F(Cli, OutputTemplatesExpandWhileTheLogKeepsTheNameAsTyped) {
    put("a.dbf");
    ProgramResult result = run({"a.dbf", "/output:b_[date].dbf"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(text("b_[date].log"), "a.dbf: OK\r\n");
    bool expanded = false;
    for (const auto &name : dir.names())
        expanded = expanded || (name.rfind("b_20", 0) == 0 && name.size() == 16);
    EXPECT_TRUE(expanded) << "no b_yyyy-mm-dd.dbf";
    EXPECT_FALSE(fileExists(dir.file("b_[date].dbf")));
}

TEST_F(Cli, OutputWithoutDbfGetsLogBesideItInsteadOfOverIt) {
    put("x.dbf");
    ProgramResult result = run({"x.dbf", "/output:fixed"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(recordCount(readFile(dir.file("fixed"))), 2u);
    EXPECT_EQ(text("fixed.log"), "x.dbf: OK\r\n");
}

TEST_F(Cli, SwitchLettersInsidePathsAreNotSwitches) {
    std::filesystem::create_directories(dir.file("package"));
    std::filesystem::create_directories(dir.file("var/log"));
    put("package/x.dbf");
    ProgramResult result = run({dir.file("package/x.dbf"), "/output:" + dir.file("var/log/y.dbf")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(recordCount(readFile(dir.file("var/log/y.dbf"))), 2u);
    EXPECT_EQ(text("var/log/y.log"), dir.file("package/x.dbf") + ": OK\r\n");
}

TEST_F(Cli, DetailedLogIsClearedForASingleTable) {
    put("x.dbf");
    EXPECT_EQ(run({"x.dbf", "/LOGAPPEND"}).exitCode, 0);
    EXPECT_EQ(run({"x.dbf", "/LOG"}).exitCode, 0);
    EXPECT_FALSE(fileExists(dir.file("recovery.log")));
}

TEST_F(Cli, ConsoleShowsTheRecoveryTextsOnlyWhenAskedFor) {
    put("x.dbf");
    ProgramResult quiet = run({"x.dbf"});
    EXPECT_EQ(quiet.out, "Salvora v4.79\nx.dbf: OK\n");
    ProgramResult console = run({"x.dbf", "/console"});
    EXPECT_NE(console.out.find("Recoverable records: 2"), std::string::npos) << console.out;
    EXPECT_NE(console.out.find("x.dbf: OK\n"), std::string::npos);
}

// The line that an earlier run's journal was settled is shown with the console and without.
TEST_F(Cli, ASettledJournalIsToldWithOrWithoutTheConsole) {
    struct Case {
        std::vector<std::string> arguments;
        bool console;
    };
    const Case cases[] = {{{"x.dbf"}, false},
                          {{"x.dbf", "/console"}, true},
                          {{"x.dbf", "y.dbf", "/jobs:2"}, false},
                          {{"x.dbf", "y.dbf", "/jobs:2", "/console"}, true}};
    for (const Case &c : cases) {
        put("x.dbf");
        put("y.dbf");
        // A journal cut short renamed nothing: the run removes it and says so.
        put(".x.dbf.salvora-jrnl", bytesOf("salvora pair"));
        ProgramResult result = run(c.arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const std::string line = "x.dbf: an interrupted repair had changed nothing";
        EXPECT_NE((c.console ? result.out : result.err).find(line), std::string::npos)
            << c.arguments.size() << c.console << " out: " << result.out << " err: " << result.err;
        EXPECT_EQ((c.console ? result.err : result.out).find(line), std::string::npos)
            << c.arguments.size() << c.console;
        EXPECT_FALSE(fileExists(dir.file(".x.dbf.salvora-jrnl")));
    }
}

TEST_F(Cli, SeveralNamesFromTheShellAreABatchWithItsLog) {
    put("a.dbf");
    put("b.dbf");
    ProgramResult result = run({"a.dbf", "b.dbf", "/pack"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(text("recovery.log"), "Salvora v4.79\r\na.dbf: OK\r\nb.dbf: OK\r\n");
    EXPECT_EQ(recordCount(readFile(dir.file("a.dbf"))), 1u);
    EXPECT_EQ(recordCount(readFile(dir.file("b.dbf"))), 1u);

    put("c.dbf", bytesOf("garbage"));
    ProgramResult mixed = run({"a.dbf", "c.dbf", "/logappend"});
    EXPECT_EQ(mixed.exitCode, 1);
    EXPECT_EQ(text("recovery.log"), "Salvora v4.79\r\na.dbf: OK\r\nb.dbf: OK\r\n"
                                    "Salvora v4.79\r\na.dbf: OK\r\nc.dbf: Unrecoverable\r\n");

    EXPECT_EQ(run({"a.dbf", "b.dbf", "/output:y.dbf"}).exitCode, 2);
    EXPECT_FALSE(fileExists(dir.file("y.dbf")));
}

TEST_F(Cli, NothingToDoShowsTheUsageAndExitsTwo) {
    const std::vector<std::vector<std::string>> lines = {{},
                                                         {"folder"},
                                                         {"/pack"},
                                                         {"x.dbf", "/gui"},
                                                         {"/clearhistory"},
                                                         {"/UNINSTALL"},
                                                         {"/uninstall", "x"}};
    put("x.dbf");
    for (const auto &line : lines) {
        ProgramResult result = run(line);
        SCOPED_TRACE(line.empty() ? "(empty)" : line[0]);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("usage: salvora"), std::string::npos);
    }
    EXPECT_EQ(readFile(dir.file("x.dbf")), goodTable()) << "/gui must not repair here";
}

TEST_F(Cli, UninstallPrintsTheAddress) {
    ProgramResult result = run({"/uninstall"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_NE(result.out.find("uninstall"), std::string::npos);
    EXPECT_EQ(result.out.find("usage"), std::string::npos);
}

TEST_F(Cli, HelpListsEverySwitchAndVersionTellsTheVersion) {
    for (const char *help : {"--help", "-h", "/?"}) {
        ProgramResult result = run({help});
        EXPECT_EQ(result.exitCode, 0);
        for (const auto &entry : switchTable())
            EXPECT_NE(result.out.find(entry.text), std::string::npos) << help << " " << entry.text;
    }
    ProgramResult version = run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "Salvora v4.79\n");
}

TEST_F(Cli, HistoryExportReplacesTheFile) {
    ProgramResult created = run({"/historyto:h.txt"});
    EXPECT_EQ(created.exitCode, 0);
    EXPECT_TRUE(fileExists(dir.file("h.txt")));
    EXPECT_EQ(text("h.txt"), "");
    put("old.txt", bytesOf("an older and longer export\r\n"));
    EXPECT_EQ(run({"--historyto=old.txt"}).exitCode, 0);
    EXPECT_EQ(text("old.txt"), "");
    EXPECT_EQ(run({"/historyto:" + dir.file("no/such/folder/h.txt")}).exitCode, 1);
}

} // namespace
} // namespace salvora::testing
