// The main window's folder run against a recording window: which tables it repairs and
// where, what the status bar and the log box show, and when it leaves the window alone.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/enginerun.h"
#include "app/folderrun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

// Keeps every text set, not only the last one per control.
class TextHistoryWindow : public RecordingWindow {
  public:
    std::vector<std::pair<int, std::string>> history;

    void setControlText(int id, const std::string &text) override {
        history.emplace_back(id, text);
        RecordingWindow::setControlText(id, text);
    }
    std::vector<std::string> statusTexts() const {
        std::vector<std::string> texts;
        for (const auto &[id, text] : history)
            if (id == IDC_STATUS)
                texts.push_back(text);
        return texts;
    }
};

class FolderRun : public ::testing::Test {
  protected:
    TempDir dir;
    FaultPlatform os;
    EngineContext context{os};
    ConsoleRunObserver console{nullptr, nullptr, {}};
    TextHistoryWindow window;

    void SetUp() override {
        std::filesystem::create_directories(dir.file("data"));
        std::filesystem::create_directories(dir.file("fixed"));
    }
    std::string data(const std::string &name) { return dir.file("data/" + name); }
    std::string fixed(const std::string &name) { return dir.file("fixed/" + name); }
    void run(const std::string &source, const std::string &output, bool english = true) {
        runFolderRecovery(context, &window, source, output, english, RecoveryRequest{}, console);
    }
};

TEST_F(FolderRun, FolderIntoAnotherFolderWritesEachFixedTableThere) {
    writeFile(data("x.dbf"), needsRepair());
    writeFile(data("y.dbf"), needsRepair());
    writeFile(data("notes.txt"), bytesOf("not a table"));
    run(dir.file("data"), dir.file("fixed"));

    EXPECT_EQ(storedCount(readFile(fixed("x.dbf"))), 2u);
    EXPECT_EQ(storedCount(readFile(fixed("y.dbf"))), 2u);
    EXPECT_EQ(readFile(data("x.dbf")), needsRepair()) << "the source stays as it was";
    EXPECT_FALSE(fileExists(fixed("notes.txt")));
    EXPECT_EQ(window.texts[IDC_LOG], data("x.dbf") + ": OK\r\n" + data("y.dbf") + ": OK\r\n");
    EXPECT_EQ(window.statusTexts(),
              (std::vector<std::string>{"Start recovery...", "Start recovery: " + data("x.dbf"),
                                        "Start recovery: " + data("y.dbf"), "Process complete"}));
    EXPECT_TRUE(window.messageBoxes.empty()) << "a folder run shows no message boxes";
}

TEST_F(FolderRun, LogBoxShowsTheResultsSoFarAfterEveryTable) {
    writeFile(data("x.dbf"), needsRepair());
    writeFile(data("y.dbf"), needsRepair());
    run(dir.file("data"), dir.file("fixed"));
    // The run itself shows its analysis texts in between; those are not the results.
    std::vector<std::string> shown;
    for (const auto &[id, text] : window.history)
        if (id == IDC_LOG && text.rfind(dir.path(), 0) == 0)
            shown.push_back(text);
    std::string first = data("x.dbf") + ": OK\r\n";
    std::string both = first + data("y.dbf") + ": OK\r\n";
    EXPECT_EQ(shown, (std::vector<std::string>{first, both, both}));
}

TEST_F(FolderRun, OutputFolderEqualToTheSourceRepairsInPlace) {
    writeFile(data("x.dbf"), needsRepair());
    run(dir.file("data"), dir.file("data"));
    EXPECT_EQ(storedCount(readFile(data("x.dbf"))), 2u);
    EXPECT_EQ(window.texts[IDC_LOG], data("x.dbf") + ": OK\r\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"data", "fixed"}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("data")),
                            std::filesystem::directory_iterator()),
              1)
        << "no work file left behind";
}

TEST_F(FolderRun, EmptyOutputMeansTheSourceFolder) {
    writeFile(data("x.dbf"), needsRepair());
    run(dir.file("data"), "");
    EXPECT_EQ(storedCount(readFile(data("x.dbf"))), 2u);
}

TEST_F(FolderRun, TrailingSeparatorsAreNotDoubled) {
    writeFile(data("x.dbf"), needsRepair());
    run(dir.file("data/"), dir.file("fixed/"));
    EXPECT_EQ(storedCount(readFile(fixed("x.dbf"))), 2u);
    EXPECT_EQ(window.texts[IDC_LOG], data("x.dbf") + ": OK\r\n");
}

TEST_F(FolderRun, PatternPicksItsMatchesOnly) {
    writeFile(data("a1.dbf"), needsRepair());
    writeFile(data("A2.DBF"), needsRepair());
    writeFile(data("b1.dbf"), needsRepair());
    run(dir.file("data/a*.dbf"), dir.file("fixed"));
    EXPECT_EQ(window.texts[IDC_LOG], data("a1.dbf") + ": OK\r\n" + data("A2.DBF") + ": OK\r\n");
    EXPECT_TRUE(fileExists(fixed("A2.DBF")));
    EXPECT_FALSE(fileExists(fixed("b1.dbf")));
}

TEST_F(FolderRun, OneNamedTableIsAPatternToo) {
    writeFile(data("x.dbf"), needsRepair());
    run(data("X.DBF"), dir.file("fixed"));
    EXPECT_EQ(window.texts[IDC_LOG], data("x.dbf") + ": OK\r\n");
}

TEST_F(FolderRun, ResultWordsFollowTheRunResults) {
    writeFile(data("a.dbf"), needsRepair());
    writeFile(data("b.dbf"), bytesOf("this is no table at all, only some text"));
    writeFile(data("c.dbf"), needsRepair());
    // The run could not open c.dbf: the system's own message says why.
    os.failOpen(pathEndsWith("data/c.dbf"), ioError());
    run(dir.file("data"), dir.file("fixed"));
    EXPECT_EQ(window.texts[IDC_LOG], data("a.dbf") + ": OK\r\n" + data("b.dbf") +
                                         ": Unrecoverable\r\n" + data("c.dbf") + ": " +
                                         os.errorText(ioError()) + "\r\n");
    EXPECT_EQ(window.statusTexts().back(), "Process complete");
}

TEST_F(FolderRun, OutputNameTooLongSaysSo) {
    writeFile(data("x.dbf"), needsRepair());
    writeFile(data("y.dbf"), needsRepair());
    os.failOpen(pathIs(fixed("x.dbf")), platform::errorNameTooLong());
    run(dir.file("data"), dir.file("fixed"));
    EXPECT_EQ(window.texts[IDC_LOG], data("x.dbf") + ": " +
                                         os.errorText(platform::errorNameTooLong()) + "\r\n" +
                                         data("y.dbf") + ": OK\r\n");
    EXPECT_FALSE(fileExists(fixed("x.dbf")));
}

TEST_F(FolderRun, FailureWithoutASystemErrorSaysUnrecoverable) {
    // An unknown table type fails the run without an error of the system's.
    Bytes table = needsRepair();
    table[0] = 0x07;
    writeFile(data("odd.dbf"), table);
    run(dir.file("data"), dir.file("fixed"));
    EXPECT_EQ(window.texts[IDC_LOG], data("odd.dbf") + ": Unrecoverable\r\n");
}

TEST_F(FolderRun, OtherLanguagesSkipTheEnglishStartText) {
    writeFile(data("x.dbf"), needsRepair());
    run(dir.file("data"), dir.file("fixed"), false);
    EXPECT_EQ(window.statusTexts(),
              (std::vector<std::string>{"Start recovery: " + data("x.dbf"), "Process complete"}));
}

TEST_F(FolderRun, NothingToDoLeavesTheWindowAlone) {
    writeFile(data("notes.txt"), bytesOf("text"));
    run(dir.file("data"), dir.file("fixed"));
    run(dir.file("missing"), dir.file("fixed"));
    run(dir.file("data/*.dbf"), dir.file("fixed"));
    EXPECT_TRUE(window.history.empty());
    EXPECT_TRUE(window.calls.empty());
}

TEST_F(FolderRun, SourceWithoutFolderWorksInTheCurrentFolder) {
    writeFile(data("x.dbf"), needsRepair());
    WorkingFolder here(dir.file("data"));
    run("*.dbf", dir.file("fixed"));
    EXPECT_EQ(window.texts[IDC_LOG], "x.dbf: OK\r\n");
    EXPECT_EQ(storedCount(readFile(fixed("x.dbf"))), 2u);
    window.history.clear();
    run("", "");
    EXPECT_EQ(window.texts[IDC_LOG], "x.dbf: OK\r\n") << "in place in the current folder";
    EXPECT_EQ(storedCount(readFile(data("x.dbf"))), 2u);
}

TEST_F(FolderRun, RunsWithoutAWindow) {
    writeFile(data("x.dbf"), needsRepair());
    runFolderRecovery(context, nullptr, dir.file("data"), dir.file("fixed"), true,
                      RecoveryRequest{}, console);
    EXPECT_EQ(storedCount(readFile(fixed("x.dbf"))), 2u);
}

TEST_F(FolderRun, SecondNameOfATableIsSkipped) {
    writeFile(data("x.dbf"), needsRepair());
    std::filesystem::create_hard_link(data("x.dbf"), data("y.dbf"));
    run(dir.file("data"), dir.file("data"));
    const std::string &log = window.texts[IDC_LOG];
    bool xFirst = log.rfind(data("x.dbf"), 0) == 0;
    std::string first = data(xFirst ? "x.dbf" : "y.dbf");
    std::string second = data(xFirst ? "y.dbf" : "x.dbf");
    EXPECT_EQ(log, first + ": OK\r\n" + second + ": Skipped: same table as " + first + "\r\n");
}

// Cancels once the given number of tables have finished.
class CancelAfterTables final : public RunObserver {
  public:
    explicit CancelAfterTables(int tables) : tables_(tables) {}
    void message(RunMessage kind, const std::string &) override {
        if (kind == RunMessage::Finished)
            ++finished_;
    }
    bool cancelled() override { return finished_ >= tables_; }

  private:
    int tables_;
    int finished_ = 0;
};

TEST_F(FolderRun, CancelKeepsTheTablesDoneAndSaysHowMany) {
    for (const char *name : {"a.dbf", "b.dbf", "c.dbf"})
        writeFile(data(name), needsRepair());
    CancelAfterTables cancelling(1);
    runFolderRecovery(context, &window, dir.file("data"), dir.file("fixed"), true,
                      RecoveryRequest{}, cancelling, FolderRunChoices{});
    const std::string &log = window.texts[IDC_LOG];
    EXPECT_NE(log.find(": OK\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Cancelled: 1 of 3 tables done; the tables done stay repaired.\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("fixed")),
                            std::filesystem::directory_iterator()),
              1);
    for (const char *name : {"a.dbf", "b.dbf", "c.dbf"})
        EXPECT_EQ(readFile(data(name)), needsRepair()) << name;
    EXPECT_NE(window.statusTexts().back(), "Process complete");
}

TEST_F(FolderRun, CheckOnlyWritesNothingAndGivesEachVerdict) {
    writeFile(data("x.dbf"), needsRepair());
    writeFile(data("y.dbf"), bytesOf("this is no table at all, only some text"));
    FolderRunChoices choices;
    choices.checkOnly = true;
    runFolderRecovery(context, &window, dir.file("data"), dir.file("fixed"), true,
                      RecoveryRequest{}, console, choices);
    const std::string &log = window.texts[IDC_LOG];
    EXPECT_NE(log.find(data("x.dbf") + ": The table needs a repair.\r\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find(data("y.dbf") + ": The table cannot be read: "), std::string::npos) << log;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("fixed")),
                            std::filesystem::directory_iterator()),
              0);
    EXPECT_EQ(readFile(data("x.dbf")), needsRepair());
}

TEST_F(FolderRun, EachTablesWordIsTheWindowsLanguage) {
    writeFile(data("x.dbf"), needsRepair());
    Bytes odd = needsRepair();
    odd[0] = 0x07;
    writeFile(data("y.dbf"), odd);
    FolderRunChoices choices;
    choices.tableOk = "gut";
    choices.tableUnrecoverable = "verloren";
    runFolderRecovery(context, &window, dir.file("data"), dir.file("fixed"), true,
                      RecoveryRequest{}, console, choices);
    const std::string &log = window.texts[IDC_LOG];
    EXPECT_NE(log.find(data("x.dbf") + ": gut\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find(data("y.dbf") + ": verloren\r\n"), std::string::npos) << log;
}

TEST(FolderRunPattern, FolderGetsTheTableMaskAndPatternsStayAsTheyAre) {
    EXPECT_EQ(folderRunPattern("/data"), "/data/*.dbf");
    EXPECT_EQ(folderRunPattern("/data/"), "/data/*.dbf");
    EXPECT_EQ(folderRunPattern("/data/x*.DBF"), "/data/x*.DBF");
    EXPECT_EQ(folderRunPattern("/data/x.dbf"), "/data/x.dbf");
    EXPECT_EQ(folderRunPattern(""), "*.dbf");
}

} // namespace
} // namespace salvora::testing
