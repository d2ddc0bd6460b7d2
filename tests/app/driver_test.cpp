// The dispatch run in-process against a stand-in system: which options, console and modes
// a command line leads to, and what window mode leaves behind.
#include <gtest/gtest.h>

#include "app/driver.h"
#include "tests/support/fakeappsystem.h"
#include "tests/support/memorysettings.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

class Driver : public ::testing::Test {
  protected:
    TempDir dir;
    FakeAppSystem system;
    EngineContext engine{platform::nativePlatform()};
    AppContext app{engine, system};

    void SetUp() override {
        auto backend = std::make_unique<MemorySettings>();
        stored = backend->values;
        app.settings = std::make_unique<SettingsStore>(std::move(backend), settingsCreatedNew);
    }
    std::shared_ptr<std::map<std::string, SettingsValue>> stored;

    int run(const std::vector<std::string> &arguments) {
        return runProgram(app, readArguments(arguments));
    }
    std::string table() {
        std::string path = dir.file("x.dbf");
        writeFile(path, TableBuilder().field("NAME", 'C', 10).record("Alice").build());
        return path;
    }
};

TEST_F(Driver, SwitchesSetTheirOptionsAndTheSingleTableClearsTheDetailedLog) {
    std::string source = table();
    EXPECT_EQ(run({source, "/pack", "/delempty", "/deldups", "/recoverydeleted", "/LOG"}), 0);
    EXPECT_EQ(app.options.pack, 1u);
    EXPECT_EQ(app.options.deleteEmpty, 1u);
    EXPECT_EQ(app.options.deleteDuplicates, 1u);
    EXPECT_EQ(app.options.recoverDeleted, 1u);
    EXPECT_EQ(app.options.deleteInvalidMemo, 0u) << "no switch for it";
    EXPECT_EQ(app.options.detailedLog, 0u);
}

TEST_F(Driver, OnlyTheRecursiveBatchKeepsTheDetailedLog) {
    run({dir.file("*.dbf"), "/recurse", "/LOG"});
    EXPECT_EQ(app.options.detailedLog, 1u);
}

TEST_F(Driver, EachOptionComesFromItsOwnSwitchOnly) {
    std::string source = table();
    run({source, "/deldups"});
    EXPECT_EQ(app.options.deleteDuplicates, 1u);
    EXPECT_EQ(app.options.deleteEmpty + app.options.pack + app.options.recoverDeleted, 0u);
}

TEST_F(Driver, ConsoleSwitchLendsStandardOutputAndReportsMissingAttach) {
    std::string source = table();
    system.attachResult = platform::ConsoleAttach::NoAttachConsole;
    run({source, "/console"});
    EXPECT_EQ(app.consoleOut, &app.standardOutput);
    EXPECT_EQ(system.consolesCreated, 0);
    EXPECT_EQ(system.messageBoxes, std::vector<std::string>{"Error: Error Load AttachConsole"});
    EXPECT_NE(system.out.find("Recoverable records: 1"), std::string::npos);
}

TEST_F(Driver, WithoutConsoleSwitchTheProgramMakesItsOwn) {
    std::string source = table();
    run({source});
    EXPECT_EQ(app.consoleOut, nullptr);
    EXPECT_EQ(system.consolesCreated, 1);
    EXPECT_EQ(system.out, "Salvora v4.79\r\n" + source + ": OK\r\n");
}

TEST_F(Driver, ProgressLineOnlyForATerminal) {
    std::string source = table();
    run({source});
    EXPECT_EQ(app.progressLine, nullptr);
    system.errorIsTerminal = true;
    run({source});
    EXPECT_NE(app.progressLine, nullptr);
}

TEST_F(Driver, RawTextIsPreferredWhenThePlatformHasOne) {
    system.rawText = "x.dbf /pack y.dbf";
    char program[] = "salvora";
    char other[] = "other.dbf";
    char *argv[] = {program, other, nullptr};
    CommandLine line = readCommandLine(system, 2, argv);
    EXPECT_EQ(line.names, std::vector<std::string>{"x.dbf"});
    system.rawText.reset();
    EXPECT_EQ(readCommandLine(system, 2, argv).names, std::vector<std::string>{"other.dbf"});
}

TEST_F(Driver, UninstallOpensThePageAndTouchesNothingElse) {
    system.shellWorks = true;
    EXPECT_EQ(run({"/uninstall"}), 0);
    ASSERT_EQ(system.opened.size(), 1u);
    EXPECT_NE(system.opened[0].find("uninstall"), std::string::npos);
    EXPECT_EQ(system.out, "");
}

TEST_F(Driver, WindowModeGetsItsTextShowsAgainOnRestartAndRemembersThePair) {
    int shown = 0;
    std::vector<std::string> seen;
    app.mainWindow = [&](AppContext &context) {
        seen.push_back(context.windowArguments);
        context.restartMainWindow = ++shown < 3;
        context.lastSource = "a.dbf";
        context.lastOutput = "b.dbf";
        return 0;
    };
    EXPECT_EQ(run({"folder", "/pack"}), 0);
    EXPECT_EQ(shown, 3);
    EXPECT_EQ(seen.front(), "folder");
    EXPECT_EQ(app.options.pack, 1u) << "options stay set for the window";
    ASSERT_EQ(app.history.size(), 1u);
    EXPECT_EQ(app.history.source(0), "a.dbf");
    EXPECT_EQ(app.history.output(0), "b.dbf");
}

TEST_F(Driver, ClearHistoryEmptiesItAndHandsTheWholeTextToTheWindow) {
    app.history.append("s.dbf", "o.dbf");
    std::string seen;
    app.mainWindow = [&](AppContext &context) {
        seen = context.windowArguments;
        return 0;
    };
    system.rawText = "/clearhistory x.dbf";
    EXPECT_EQ(runProgram(app, readCommandLine(system, 0, nullptr)), 0);
    EXPECT_TRUE(app.history.empty());
    EXPECT_EQ(seen, "/clearhistory x.dbf");
}

TEST_F(Driver, GuiOpensTheWindowWithTheCleanedText) {
    std::string seen;
    app.mainWindow = [&](AppContext &context) {
        seen = context.windowArguments;
        return 0;
    };
    system.rawText = "\"C:\\my data\\x.dbf\" /output:y.dbf /gui";
    EXPECT_EQ(runProgram(app, readCommandLine(system, 0, nullptr)), 0);
    EXPECT_EQ(seen, "C:\\my data\\x.dbf");
}

} // namespace
} // namespace salvora::testing
