// The built program against its settings file: the history export and clear, and which
// runs write the file at all.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/programrunner.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

class CliSettings : public ::testing::Test {
  protected:
    TempDir dir;
    TempDir config;

    std::string settingsPath() const { return config.file("salvora/settings"); }
    void storeSettings(const std::string &text) {
        std::filesystem::create_directories(config.file("salvora"));
        writeFile(settingsPath(), bytesOf(text));
    }
    std::string settingsText() {
        Bytes bytes = readFile(settingsPath());
        return std::string(bytes.begin(), bytes.end());
    }
    ProgramResult run(const std::vector<std::string> &arguments) {
        return runProgram({SALVORA_PROGRAM,
                           arguments,
                           dir.path(),
                           {{"XDG_CONFIG_HOME", config.path()}, {"LANG", "de_AT.UTF-8"}}});
    }
};

const char *twoPairs = "RECENTS bytes 02000000\n"
                       "SRC0 text /data/new.dbf\n"
                       "DST0 text /fixed/new,1.dbf\n"
                       "SRC1 text /data/old.dbf\n"
                       "DST1 text /data/old.dbf\n"
                       "LANG number 0\n";

TEST_F(CliSettings, HistoryExportWritesTheStoredPairsMostRecentFirst) {
    storeSettings(twoPairs);
    ProgramResult result = run({"/historyto:" + dir.file("h.txt")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readFile(dir.file("h.txt")),
              bytesOf("/data/new.dbf,/fixed/new,1.dbf\r\n/data/old.dbf,/data/old.dbf\r\n"));
}

TEST_F(CliSettings, ClearHistoryEmptiesTheStoredPairsForTheNextRun) {
    storeSettings(twoPairs);
    EXPECT_EQ(run({"/clearhistory"}).exitCode, 2) << "no window to show on this platform";
    std::string stored = settingsText();
    EXPECT_NE(stored.find("RECENTS bytes 00000000\n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("SRC0 text \n"), std::string::npos) << stored;
    EXPECT_NE(stored.find("DST1 text \n"), std::string::npos) << stored;
    EXPECT_EQ(run({"/historyto:h.txt"}).exitCode, 0);
    EXPECT_EQ(readFile(dir.file("h.txt")), Bytes{});
}

TEST_F(CliSettings, ARepairWritesOnlyTheMissingLanguage) {
    writeFile(dir.file("x.dbf"), TableBuilder().field("NAME", 'C', 10).record("Alice").build());
    EXPECT_EQ(run({"x.dbf"}).exitCode, 0);
    EXPECT_EQ(settingsText(), "# Salvora settings: NAME TYPE DATA, TYPE text, number or bytes.\n"
                              "LANG number -1\n");
    // Window mode (here: the usage text) writes the derived language back.
    run({});
    EXPECT_NE(settingsText().find("LANG number 1\n"), std::string::npos) << settingsText();
}

TEST_F(CliSettings, ADamagedSettingsFileIsNoObstacle) {
    storeSettings(std::string("\x00\xff garbage\nRECENTS bytes zz\nSRC0 text \\", 40));
    EXPECT_EQ(run({"/historyto:h.txt"}).exitCode, 0);
    EXPECT_EQ(readFile(dir.file("h.txt")), Bytes{});
}

} // namespace
} // namespace salvora::testing
