// The real main window, created modeless and driven with messages as a user's clicks would.
// Runs under Wine with a display (Xvfb); registry values land in the test prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <vector>

#include "app/addresses.h"
#include "app/language.h"
#include "app/persistence.h"
#include "app/settings.h"
#include "gui/aboutbox.h"
#include "gui/commandlinedialog.h"
#include "gui/mainwindowdialog.h"
#include "resources/resource.h"
#include "tests/gui/guisupport.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::pump;
using testing::TempDir;
using testing::windowsPath;

// The system as it is, but shell launches and ownerless boxes are only written down.
class RecordingAppSystem final : public platform::AppSystem {
  public:
    platform::AppSystem &real = platform::nativeAppSystem();
    std::vector<std::string> opened;
    std::vector<std::string> started;

    std::optional<std::string> rawArgumentText() override { return real.rawArgumentText(); }
    bool isTerminal(platform::StandardStream s) override { return real.isTerminal(s); }
    void writeStandard(platform::StandardStream s, std::string_view t) override {
        real.writeStandard(s, t);
    }
    platform::ConsoleAttach attachParentConsole() override { return real.attachParentConsole(); }
    void createConsole() override {}
    void initCommonControls() override { real.initCommonControls(); }
    bool shellOpen(const std::string &target) override {
        opened.push_back(target);
        return true;
    }
    bool startProgram(const std::string &commandLine) override {
        started.push_back(commandLine);
        return true;
    }
    void messageBox(const std::string &, const std::string &) override {}
    std::optional<std::string> environmentVariable(const std::string &name) override {
        return real.environmentVariable(name);
    }
    std::uint16_t userDefaultLanguageId() override { return 0x0409; }
    platform::ErrorCode createFolders(const std::string &path) override {
        return real.createFolders(path);
    }
    platform::ModuleHandle ownModule() override { return real.ownModule(); }
    platform::ModuleHandle loadLibrary(const std::string &name) override {
        return real.loadLibrary(name);
    }
    std::optional<std::string> loadString(platform::ModuleHandle module, int id) override {
        return real.loadString(module, id);
    }
};

struct Box {
    std::string text;
    std::string caption;
    UINT type;
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        system.real.initCommonControls();
        app.resourceModule = system.ownModule();
        app.settings = std::make_unique<SettingsStore>(openNativeSettings(engine.os, system));
        hooks = gui::MainWindowHooks::system();
        hooks.messageBox = [this](HWND, const std::string &text, const std::string &caption,
                                  UINT type) {
            boxes.push_back({text, caption, type});
            return answer;
        };
        hooks.openTable = [this](HWND, const std::string &) { return chosenFile; };
        hooks.saveTable = [this](HWND, const std::string &) { return chosenFile; };
        hooks.chooseFolder = [this](HWND) { return chosenFolder; };
        hooks.showAbout = [this](HWND, HINSTANCE) { ++aboutShown; };
        hooks.currentFolder = [] { return std::string("C:\\current"); };
        hooks.chooseReport = [this](HWND, const std::string &filter) {
            reportFilters.push_back(filter);
            return chosenReport;
        };
    }

    HWND open() {
        window = std::make_unique<gui::MainWindow>(app, hooks);
        HWND handle = window->createModeless();
        EXPECT_NE(handle, nullptr);
        ::ShowWindow(handle, SW_SHOW);
        pump();
        return handle;
    }

    // Delivers the run's events until its worker is done, as the window's loop would.
    void finishRun() {
        for (int i = 0; i < 6000 && window->running(); ++i) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            pump();
        }
        EXPECT_FALSE(window->running());
    }

    void command(int id, int code = 0) {
        ::SendMessageA(window->window(), WM_COMMAND, MAKEWPARAM(id, code), 0);
    }

    std::string text(int id) {
        char buffer[4096] = {};
        ::GetDlgItemTextA(window->window(), id, buffer, sizeof buffer);
        return buffer;
    }

    std::string status() {
        char buffer[512] = {};
        ::SendDlgItemMessageA(window->window(), IDC_STATUS, SB_GETTEXTA, 0,
                              reinterpret_cast<LPARAM>(buffer));
        return buffer;
    }

    bool checked(int command) {
        return (::GetMenuState(::GetMenu(window->window()), static_cast<UINT>(command),
                               MF_BYCOMMAND) &
                MF_CHECKED) != 0;
    }

    bool enabled(int id) { return ::IsWindowEnabled(::GetDlgItem(window->window(), id)) != 0; }
    bool visible(int id) { return ::IsWindowVisible(::GetDlgItem(window->window(), id)) != 0; }

    std::string damagedCopy(const std::string &name) {
        std::string path = windowsPath(dir.file(name));
        EXPECT_TRUE(
            ::CopyFileA(SALVORA_EXAMPLES_DIR "/customers_damaged.dbf", path.c_str(), FALSE));
        return path;
    }

    RecordingAppSystem system;
    EngineContext engine{platform::nativePlatform()};
    AppContext app{engine, system};
    gui::MainWindowHooks hooks;
    std::unique_ptr<gui::MainWindow> window;
    std::vector<Box> boxes;
    int answer = IDOK;
    int aboutShown = 0;
    std::optional<std::string> chosenFile;
    std::optional<std::string> chosenFolder;
    std::optional<std::string> chosenReport;
    std::vector<std::string> reportFilters;
    TempDir dir;

    // Source and output in the boxes, Start, and the run to its end.
    void runTable(const std::string &source, const std::string &output) {
        ::SetDlgItemTextA(window->window(), IDC_SOURCE, source.c_str());
        ::SetDlgItemTextA(window->window(), IDC_OUTPUT, output.c_str());
        command(IDM_START);
        finishRun();
    }
    std::string fileText(const std::string &path) {
        testing::Bytes bytes = testing::readFile(path);
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(MainWindowTest, OpensWithPromptDisabledStartAndHiddenControls) {
    open();
    EXPECT_EQ(status(), "Please select the dbf file for recovery");
    EXPECT_FALSE(enabled(IDC_START));
    EXPECT_FALSE(enabled(IDC_COMMAND_LINE));
    EXPECT_FALSE(visible(IDC_OUTPUT_FOLDER));
    EXPECT_FALSE(visible(IDC_KEEP_DELETED));
    EXPECT_EQ(::IsDlgButtonChecked(window->window(), IDC_KEEP_DELETED), BST_CHECKED);
    EXPECT_EQ(text(IDC_LANGUAGE_LIST), "English");
    HWND toolbar = ::GetDlgItem(window->window(), IDC_TOOLBAR);
    ASSERT_NE(toolbar, nullptr);
    EXPECT_EQ(::SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0), 5);
    char label[64] = {};
    ::SendMessageA(toolbar, TB_GETBUTTONTEXTA, IDM_EXIT, reinterpret_cast<LPARAM>(label));
    EXPECT_STREQ(label, "Quit");
}

TEST_F(MainWindowTest, OptionsFromTheCommandLineShowAsCheckMarks) {
    app.options.deleteDuplicates = 1;
    app.options.pack = 1;
    open();
    EXPECT_TRUE(checked(IDM_DELETE_DUPLICATES));
    EXPECT_TRUE(checked(IDM_PACK));
    EXPECT_FALSE(checked(IDM_DELETE_EMPTY));
    EXPECT_TRUE(checked(IDM_ENGLISH));
}

TEST_F(MainWindowTest, PackAndRecoverDeletedExcludeEachOther) {
    open();
    command(IDM_RECOVER_DELETED);
    EXPECT_TRUE(checked(IDM_RECOVER_DELETED));
    command(IDM_PACK);
    EXPECT_TRUE(checked(IDM_PACK));
    EXPECT_FALSE(checked(IDM_RECOVER_DELETED));
    EXPECT_EQ(app.options.recoverDeleted, 0u);
    command(IDM_RECOVER_DELETED);
    EXPECT_FALSE(checked(IDM_PACK));
    EXPECT_EQ(app.options.pack, 0u);
    command(IDM_DELETE_EMPTY);
    command(IDM_DELETE_INVALID_MEMO);
    EXPECT_EQ(app.options.deleteEmpty, 1u);
    EXPECT_EQ(app.options.deleteInvalidMemo, 1u);
    EXPECT_TRUE(checked(IDM_DELETE_INVALID_MEMO));
}

TEST_F(MainWindowTest, StartWithoutASourceAsksForOneAndFocusesBrowse) {
    open();
    command(IDM_START);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Please select the dbf file for recovery");
    EXPECT_EQ(boxes[0].caption, "Salvora");
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(window->window(), IDC_BROWSE_SOURCE));
}

TEST_F(MainWindowTest, StartRepairsADamagedTableIntoTheOutputName) {
    std::string source = damagedCopy("customers.dbf");
    std::string output = windowsPath(dir.file("fixed.dbf"));
    open();
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, source.c_str());
    ::SetDlgItemTextA(window->window(), IDC_OUTPUT, output.c_str());
    command(IDM_START);
    EXPECT_EQ(text(IDC_START), "Cancel");
    finishRun();
    EXPECT_EQ(text(IDC_START), "&Start");
    EXPECT_TRUE(testing::fileExists(output));
    EXPECT_NE(text(IDC_LOG).find("Recoverable records: "), std::string::npos) << text(IDC_LOG);
    EXPECT_EQ(status(), "");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Saved fixed file to " + output);
    EXPECT_EQ(app.lastSource, source);
    EXPECT_EQ(app.lastOutput, output);
    LRESULT position = ::SendDlgItemMessageA(window->window(), IDC_PROGRESS, PBM_GETPOS, 0, 0);
    EXPECT_GT(position, 0);
}

// "Keep the original": the in-place repair leaves the table as it was under the backup name.
TEST_F(MainWindowTest, KeepTheOriginalLeavesABackupBesideTheRepairedTable) {
    std::string source = damagedCopy("customers.dbf");
    testing::Bytes original = testing::readFile(source);
    open();
    EXPECT_FALSE(checked(IDM_KEEP_ORIGINAL));
    command(IDM_KEEP_ORIGINAL);
    EXPECT_TRUE(checked(IDM_KEEP_ORIGINAL));
    EXPECT_EQ(app.options.keepOriginal, 1u);
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, source.c_str());
    ::SetDlgItemTextA(window->window(), IDC_OUTPUT, source.c_str());
    command(IDM_START);
    finishRun();
    std::string backup = windowsPath(dir.file("customers.bak.dbf"));
    ASSERT_TRUE(testing::fileExists(backup));
    EXPECT_EQ(testing::readFile(backup), original);
    EXPECT_NE(testing::readFile(source), original);
    std::string log = text(IDC_LOG);
    EXPECT_NE(log.find("The original was kept as "), std::string::npos) << log;
    EXPECT_NE(log.find("customers.bak.dbf"), std::string::npos) << log;
}

TEST_F(MainWindowTest, BrowseFillsBothBoxesAndEnablesStart) {
    chosenFile = "C:\\data\\x.dbf";
    open();
    command(IDM_BROWSE);
    EXPECT_EQ(text(IDC_SOURCE), "C:\\data\\x.dbf");
    EXPECT_EQ(text(IDC_OUTPUT), "C:\\data\\x.dbf");
    EXPECT_EQ(app.lastFolder, "C:\\current");
    EXPECT_TRUE(enabled(IDC_START));
    EXPECT_TRUE(enabled(IDC_COMMAND_LINE));
    EXPECT_EQ(status(), "Click Start button to start the recovery process");
    chosenFile = "C:\\out\\y.dbf";
    command(IDC_BROWSE_OUTPUT);
    EXPECT_EQ(text(IDC_SOURCE), "C:\\data\\x.dbf");
    EXPECT_EQ(text(IDC_OUTPUT), "C:\\out\\y.dbf");
}

TEST_F(MainWindowTest, SelectFolderShowsTheOutputFolderButtonAndStartRunsTheFolder) {
    damagedCopy("a.dbf");
    damagedCopy("b.dbf");
    chosenFolder = windowsPath(dir.path());
    open();
    command(IDC_SOURCE_FOLDER);
    EXPECT_EQ(text(IDC_SOURCE), *chosenFolder);
    EXPECT_EQ(text(IDC_OUTPUT), *chosenFolder);
    EXPECT_TRUE(visible(IDC_OUTPUT_FOLDER));
    EXPECT_TRUE(enabled(IDC_START));
    EXPECT_EQ(app.lastFolder, *chosenFolder);
    command(IDM_START);
    finishRun();
    std::string log = text(IDC_LOG);
    EXPECT_NE(log.find("a.dbf: OK\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("b.dbf: OK\r\n"), std::string::npos) << log;
    EXPECT_EQ(status(), "Process complete");
    EXPECT_TRUE(boxes.empty());
    // The tables were repaired in place: Show output opens their folder.
    command(IDM_SHOW_OUTPUT);
    ASSERT_EQ(system.started.size(), 1u);
    EXPECT_EQ(system.started[0], "explorer \"" + *chosenFolder + "\"");
}

TEST_F(MainWindowTest, OutputFolderButtonFillsOnlyTheOutput) {
    chosenFolder = "C:\\fixed";
    open();
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, "C:\\data");
    command(IDC_OUTPUT_FOLDER);
    EXPECT_EQ(text(IDC_SOURCE), "C:\\data");
    EXPECT_EQ(text(IDC_OUTPUT), "C:\\fixed");
}

HGLOBAL dropOf(const std::string &path) {
    std::size_t size = sizeof(DROPFILES) + path.size() + 2;
    HGLOBAL memory = ::GlobalAlloc(GHND, size);
    auto *drop = static_cast<DROPFILES *>(::GlobalLock(memory));
    drop->pFiles = sizeof(DROPFILES);
    drop->fWide = FALSE;
    path.copy(reinterpret_cast<char *>(drop) + sizeof(DROPFILES), path.size());
    ::GlobalUnlock(memory);
    return memory;
}

TEST_F(MainWindowTest, DroppedTableIsTakenAndOtherFilesAreIgnored) {
    open();
    ::SendMessageA(window->window(), WM_DROPFILES,
                   reinterpret_cast<WPARAM>(dropOf("C:\\notes\\x.txt")), 0);
    EXPECT_EQ(text(IDC_SOURCE), "");
    ::SendMessageA(window->window(), WM_DROPFILES,
                   reinterpret_cast<WPARAM>(dropOf("C:\\old.data\\x.DBF")), 0);
    EXPECT_EQ(text(IDC_SOURCE), "C:\\old.data\\x.DBF");
    EXPECT_EQ(text(IDC_OUTPUT), "C:\\old.data\\x.DBF");
    EXPECT_TRUE(enabled(IDC_START));
}

TEST_F(MainWindowTest, HistoryFillsTheBoxesAndAPickSelectsItsOutput) {
    app.history.append("C:\\a.dbf", "C:\\a_out.dbf");
    app.history.append("C:\\b.dbf", "C:\\b_out.dbf");
    app.history.finishLoading();
    open();
    EXPECT_EQ(::SendDlgItemMessageA(window->window(), IDC_SOURCE, CB_GETCOUNT, 0, 0), 2);
    ::SendDlgItemMessageA(window->window(), IDC_SOURCE, CB_SETCURSEL, 1, 0);
    command(IDC_SOURCE, CBN_SELCHANGE);
    EXPECT_EQ(::SendDlgItemMessageA(window->window(), IDC_OUTPUT, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(text(IDC_OUTPUT), "C:\\b_out.dbf");
    EXPECT_TRUE(enabled(IDC_START));
}

std::string registryText(const char *name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Salvora", 0, KEY_READ, &key) != 0)
        return "<no key>";
    char buffer[256] = {};
    DWORD size = sizeof buffer;
    DWORD type = 0;
    LONG status =
        ::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(buffer), &size);
    ::RegCloseKey(key);
    if (status != 0)
        return "<missing>";
    return type == REG_SZ ? std::string(buffer) : "<not text>";
}

TEST_F(MainWindowTest, CleanHistoryEmptiesTheListsAndTheRegistryValues) {
    app.settings->writeText("SRC0", "C:\\a.dbf");
    app.settings->writeText("DST0", "C:\\a_out.dbf");
    app.settings->writeBytes("RECENTS", std::string("\x01\x00\x00\x00", 4));
    loadRemembered(app);
    ASSERT_EQ(app.history.size(), 1u);
    open();
    answer = IDNO;
    command(IDM_CLEAN_HISTORY);
    EXPECT_EQ(::SendDlgItemMessageA(window->window(), IDC_SOURCE, CB_GETCOUNT, 0, 0), 1);
    answer = IDYES;
    command(IDM_CLEAN_HISTORY);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Do you wish to clean history list ?");
    EXPECT_EQ(boxes[1].type & MB_YESNO, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(::SendDlgItemMessageA(window->window(), IDC_SOURCE, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(::SendDlgItemMessageA(window->window(), IDC_OUTPUT, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(registryText("SRC0"), "");
    EXPECT_EQ(registryText("DST0"), "");
    EXPECT_EQ(saveRemembered(app, false), 0);
    EXPECT_EQ(app.settings->readValue("RECENTS", 4), std::string(4, '\0'));
}

TEST_F(MainWindowTest, WindowArgumentsFillTheBoxesAndStartAtOnce) {
    std::string source = damagedCopy("x.dbf");
    std::string output = windowsPath(dir.file("y.dbf"));
    app.windowArguments = source + " /output:" + output;
    open();
    pump();
    finishRun();
    EXPECT_EQ(text(IDC_SOURCE), source);
    EXPECT_EQ(text(IDC_OUTPUT), output);
    EXPECT_TRUE(testing::fileExists(output));
    EXPECT_EQ(app.lastSource, source);
}

TEST_F(MainWindowTest, GuiStartShowsTheWindowBeforeTheRunStarts) {
    std::string source = damagedCopy("x.dbf");
    std::string output = windowsPath(dir.file("y.dbf"));
    app.windowArguments = source + " /output:" + output;
    std::vector<bool> visibleAtBox;
    hooks.messageBox = [&](HWND owner, const std::string &text, const std::string &, UINT) {
        visibleAtBox.push_back(::IsWindowVisible(owner) != 0);
        boxes.push_back({text, "", 0});
        return IDOK;
    };
    window = std::make_unique<gui::MainWindow>(app, hooks);
    HWND handle = window->createModeless(); // not shown by the test, as a dialog box is not
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(::IsWindowVisible(handle));
    pump();
    finishRun();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Saved fixed file to " + output);
    EXPECT_TRUE(visibleAtBox[0]);
}

TEST_F(MainWindowTest, LanguageSwitchAfterAGuiStartKeepsTheNamesAndRunsNothing) {
    std::string source = damagedCopy("x.dbf");
    std::string output = windowsPath(dir.file("y.dbf"));
    app.windowArguments = source + " /output:" + output;
    open();
    pump();
    finishRun();
    ASSERT_TRUE(testing::fileExists(output));
    testing::Bytes written = testing::readFile(output);
    WIN32_FILE_ATTRIBUTE_DATA before{};
    ASSERT_TRUE(::GetFileAttributesExA(output.c_str(), GetFileExInfoStandard, &before));
    std::string picked = windowsPath(dir.file("other.dbf"));
    ::SetDlgItemTextA(window->window(), IDC_OUTPUT, picked.c_str());
    command(IDM_DELETE_DUPLICATES);
    ::Sleep(50); // a second run would leave a later time
    command(IDM_GERMAN);
    ASSERT_EQ(app.language, 1);
    open();
    pump();
    EXPECT_EQ(text(IDC_SOURCE), source);
    EXPECT_EQ(text(IDC_OUTPUT), picked);
    EXPECT_TRUE(enabled(IDC_START));
    EXPECT_TRUE(checked(IDM_DELETE_DUPLICATES));
    EXPECT_FALSE(testing::fileExists(picked));
    EXPECT_EQ(testing::readFile(output), written);
    WIN32_FILE_ATTRIBUTE_DATA after{};
    ASSERT_TRUE(::GetFileAttributesExA(output.c_str(), GetFileExInfoStandard, &after));
    EXPECT_EQ(::CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime), 0);
    EXPECT_EQ(boxes.size(), 1u); // only the first run's "Saved fixed file"
    command(IDM_ENGLISH);
}

TEST_F(MainWindowTest, CancelDuringARunLeavesTheSourceAndNoWorkFiles) {
    testing::TableBuilder large(0x03);
    large.field("NAME", 'C', 120).field("CITY", 'C', 60).field("PAID", 'N', 10, 2);
    for (int i = 0; i < 300000; ++i)
        large.record("customer " + std::to_string(i));
    const testing::Bytes table = large.build();
    std::string source = windowsPath(dir.file("large.dbf"));
    testing::writeFile(source, table);
    open();
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, source.c_str());
    ::SetDlgItemTextA(window->window(), IDC_OUTPUT, source.c_str());
    command(IDM_START);
    // Cancelled at once: waiting for the bar to move lost the race on a loaded machine, where the
    // whole run could end between two looks at the bar.
    ASSERT_TRUE(window->running()) << "the run ended before it could be cancelled";
    EXPECT_EQ(text(IDC_START), "Cancel");
    command(IDM_START);
    finishRun();
    EXPECT_EQ(text(IDC_START), "&Start");
    EXPECT_EQ(text(IDC_LOG), "Cancelled: the table and the output were left as they were.\r\n");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(testing::readFile(source), table);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"large.dbf"});
}

TEST_F(MainWindowTest, CheckOnlyWritesNothingAndShowsTheFindings) {
    std::string source = damagedCopy("customers.dbf");
    testing::Bytes original = testing::readFile(source);
    std::string output = windowsPath(dir.file("fixed.dbf"));
    open();
    EXPECT_FALSE(checked(IDM_CHECK_ONLY));
    command(IDM_CHECK_ONLY);
    EXPECT_TRUE(checked(IDM_CHECK_ONLY));
    EXPECT_TRUE(app.windowCheckOnly);
    EXPECT_EQ(text(IDC_START), "&Check");
    runTable(source, output);
    EXPECT_EQ(text(IDC_START), "&Check");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"customers.dbf"}) << "nothing written";
    EXPECT_EQ(testing::readFile(source), original);
    std::string log = text(IDC_LOG);
    EXPECT_EQ(log.rfind("Check only: nothing was written.\r\nThe table needs a repair.\r\n", 0), 0u)
        << log;
    EXPECT_NE(log.find("Records read: "), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nFindings: "), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nTable: "), std::string::npos) << "a finding line: " << log;
    EXPECT_TRUE(boxes.empty()) << "no \"Saved fixed file\"";
    EXPECT_FALSE(enabled(IDC_SHOW_OUTPUT));
    command(IDM_CHECK_ONLY);
    EXPECT_EQ(text(IDC_START), "&Start");
}

TEST_F(MainWindowTest, WriteReportWritesEachFormatByItsExtension) {
    std::string source = damagedCopy("customers.dbf");
    std::string output = windowsPath(dir.file("fixed.dbf"));
    open();
    struct Case {
        const char *name;
        const char *begins;
    };
    for (const Case &c : {Case{"why.csv", "record,field,problem,action\r\n"},
                          Case{"why.txt", "Table: "}, Case{"why.json", "{"}}) {
        std::string report = windowsPath(dir.file(c.name));
        chosenReport = report;
        command(IDM_WRITE_REPORT);
        EXPECT_TRUE(checked(IDM_WRITE_REPORT)) << c.name;
        EXPECT_EQ(app.windowReport, report);
        runTable(source, output);
        ASSERT_TRUE(testing::fileExists(report)) << c.name;
        EXPECT_EQ(fileText(report).rfind(c.begins, 0), 0u) << c.name << ": " << fileText(report);
        EXPECT_NE(text(IDC_LOG).find("Report: " + report + "\r\n"), std::string::npos)
            << text(IDC_LOG);
        // Chosen again while set: the report is given up, without a dialog.
        chosenReport = windowsPath(dir.file("never.txt"));
        command(IDM_WRITE_REPORT);
        EXPECT_FALSE(checked(IDM_WRITE_REPORT)) << c.name;
        EXPECT_EQ(app.windowReport, "");
        damagedCopy("customers.dbf");
    }
    EXPECT_EQ(reportFilters, std::vector<std::string>(3, "Reports (*.csv;*.txt;*.json)"));
    EXPECT_FALSE(testing::fileExists(windowsPath(dir.file("never.txt"))));
    // A check writes its report as well.
    std::string checkReport = windowsPath(dir.file("check.json"));
    chosenReport = checkReport;
    command(IDM_WRITE_REPORT);
    command(IDM_CHECK_ONLY);
    runTable(source, output);
    EXPECT_NE(fileText(checkReport).find("\"needs repair\""), std::string::npos)
        << fileText(checkReport);
}

TEST_F(MainWindowTest, ResultsBoxSaysWhatTheRunDid) {
    std::string source = damagedCopy("customers.dbf");
    std::string output = windowsPath(dir.file("fixed.dbf"));
    open();
    command(IDM_DELETE_DUPLICATES);
    runTable(source, output);
    std::string log = text(IDC_LOG);
    std::size_t at = log.find("Recoverable records: ");
    ASSERT_NE(at, std::string::npos) << log;
    std::string kept = log.substr(at + 21, log.find("\r\n", at) - at - 21);
    EXPECT_NE(log.find("\r\nRecords read: "), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nRecords kept: " + kept + "\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nRecords dropped: "), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nMemos carried: "), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nMemo references cleared: "), std::string::npos) << log;
    EXPECT_NE(log.find("\r\nOutput: " + output + "\r\n"), std::string::npos) << log;
}

TEST_F(MainWindowTest, ShowOutputOpensTheFolderWithTheOutputSelected) {
    std::string source = damagedCopy("customers.dbf");
    std::string output = windowsPath(dir.file("fixed.dbf"));
    open();
    EXPECT_FALSE(enabled(IDC_SHOW_OUTPUT));
    EXPECT_NE(
        ::GetMenuState(::GetMenu(window->window()), IDM_SHOW_OUTPUT, MF_BYCOMMAND) & MF_GRAYED, 0u);
    runTable(source, output);
    EXPECT_TRUE(enabled(IDC_SHOW_OUTPUT));
    EXPECT_EQ(
        ::GetMenuState(::GetMenu(window->window()), IDM_SHOW_OUTPUT, MF_BYCOMMAND) & MF_GRAYED, 0u);
    command(IDM_SHOW_OUTPUT);
    ASSERT_EQ(system.started.size(), 1u);
    EXPECT_EQ(system.started[0], "explorer /select,\"" + output + "\"");
}

TEST_F(MainWindowTest, CancelDuringAFolderRunKeepsTheTablesDone) {
    testing::TableBuilder large(0x03);
    large.field("NAME", 'C', 120).field("CITY", 'C', 60).field("PAID", 'N', 10, 2);
    for (int i = 0; i < 100000; ++i)
        large.record("customer " + std::to_string(i));
    const testing::Bytes table = large.build();
    ASSERT_TRUE(::CreateDirectoryA(windowsPath(dir.file("data")).c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA(windowsPath(dir.file("fixed")).c_str(), nullptr));
    std::vector<std::string> names;
    for (char c = 'a'; c <= 'h'; ++c)
        names.push_back(std::string(1, c) + ".dbf");
    for (const std::string &name : names)
        testing::writeFile(windowsPath(dir.file("data/" + name)), table);
    open();
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, windowsPath(dir.file("data")).c_str());
    ::SetDlgItemTextA(window->window(), IDC_OUTPUT, windowsPath(dir.file("fixed")).c_str());
    command(IDM_START);
    EXPECT_EQ(text(IDC_START), "Cancel");
    // Cancel once the run is under way: the bar has moved or a table has its line.
    for (int i = 0; i < 6000 && window->running() &&
                    ::SendDlgItemMessageA(window->window(), IDC_PROGRESS, PBM_GETPOS, 0, 0) == 0;
         ++i) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG message;
        if (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&message);
    }
    ASSERT_TRUE(window->running()) << "the folder run ended before it could be cancelled";
    command(IDM_START);
    finishRun();
    EXPECT_EQ(text(IDC_START), "&Start");
    std::string log = text(IDC_LOG);
    std::size_t done = 0;
    for (std::size_t at = log.find(": OK\r\n"); at != std::string::npos;
         at = log.find(": OK\r\n", at + 1))
        ++done;
    EXPECT_LT(done, names.size()) << log;
    EXPECT_NE(log.find("Cancelled: " + std::to_string(done) + " of 8 tables done"),
              std::string::npos)
        << log;
    std::vector<std::string> fixedNames;
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA(windowsPath(dir.file("fixed\\*")).c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            if (found.cFileName[0] != '.')
                fixedNames.push_back(found.cFileName);
        while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    EXPECT_EQ(fixedNames.size(), done) << "only the tables done, no work files";
    for (const std::string &name : names)
        EXPECT_EQ(testing::readFile(windowsPath(dir.file("data/" + name))), table) << name;
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, EscKeepsTheWindowOpen) {
    open();
    command(IDCANCEL);
    pump();
    EXPECT_EQ(window->result(), -1);
    EXPECT_TRUE(::IsWindow(window->window()));
}

TEST_F(MainWindowTest, WindowArgumentsWithoutOutputRepairInPlace) {
    app.windowArguments = "C:\\nowhere\\x.dbf";
    hooks.messageBox = [this](HWND, const std::string &text, const std::string &caption, UINT) {
        boxes.push_back({text, caption, 0});
        return IDOK;
    };
    open();
    EXPECT_EQ(text(IDC_SOURCE), "C:\\nowhere\\x.dbf");
    EXPECT_EQ(text(IDC_OUTPUT), "C:\\nowhere\\x.dbf");
}

TEST_F(MainWindowTest, LanguageSwitchClosesAndTheNextWindowSpeaksGerman) {
    open();
    command(IDM_GERMAN);
    EXPECT_EQ(window->result(), 2);
    EXPECT_EQ(window->window(), nullptr);
    EXPECT_TRUE(app.restartMainWindow);
    ASSERT_EQ(app.language, 1);

    open();
    EXPECT_FALSE(app.restartMainWindow);
    char item[128] = {};
    ::GetMenuStringA(::GetMenu(window->window()), IDM_PACK, item, sizeof item, MF_BYCOMMAND);
    EXPECT_STREQ(item, "Pa&cken");
    EXPECT_TRUE(checked(IDM_GERMAN));
    EXPECT_FALSE(checked(IDM_ENGLISH));
    wchar_t wide[128] = {};
    ::MultiByteToWideChar(CP_ACP, 0, status().c_str(), -1, wide, 128);
    EXPECT_STREQ(wide, L"Bitte wählen Sie die DBF-Datei zur Reparatur");
    EXPECT_EQ(text(IDC_LANGUAGE_LIST), "Deutsch");
    command(IDM_START);
    ASSERT_EQ(boxes.size(), 1u);
    ::MultiByteToWideChar(CP_ACP, 0, boxes[0].text.c_str(), -1, wide, 128);
    EXPECT_STREQ(wide, L"Bitte wählen Sie die DBF-Datei zur Reparatur");

    // A run's own words in the results box: a table of an unknown type, alone and in a folder.
    ASSERT_TRUE(::CreateDirectoryA(windowsPath(dir.file("odd")).c_str(), nullptr));
    std::string odd = windowsPath(dir.file("odd/odd.dbf"));
    testing::TableBuilder unknownType(0x05);
    unknownType.field("NAME", 'C', 20).record("a").record("b");
    testing::writeFile(odd, unknownType.build());
    runTable(odd, windowsPath(dir.file("fixed.dbf")));
    EXPECT_EQ(text(IDC_LOG).rfind("Datei wird analysiert...\r\nDatei nicht wiederherstellbar", 0),
              0u)
        << text(IDC_LOG);
    runTable(windowsPath(dir.file("odd")), windowsPath(dir.file("odd")));
    EXPECT_EQ(text(IDC_LOG), odd + ": Nicht wiederherstellbar\r\n");

    command(IDM_ENGLISH);
    EXPECT_EQ(app.language, 0);
    open();
    EXPECT_TRUE(checked(IDM_ENGLISH));
}

TEST_F(MainWindowTest, ChoosingTheCurrentLanguageKeepsTheWindow) {
    open();
    command(IDM_ENGLISH);
    EXPECT_EQ(window->result(), -1);
    EXPECT_FALSE(app.restartMainWindow);
}

TEST_F(MainWindowTest, HelpMailAndProductPageGoToTheShell) {
    open();
    command(IDM_MAIL);
    command(IDM_PRODUCT_PAGE);
    command(IDM_HELP);
    ASSERT_EQ(system.opened.size(), 3u);
    EXPECT_EQ(system.opened[0], std::string("mailto:") + supportMailAddress);
    EXPECT_EQ(system.opened[1], productAddress);
    EXPECT_NE(system.opened[2].find("\\salvora.chm"), std::string::npos) << system.opened[2];
    command(IDM_ABOUT);
    EXPECT_EQ(aboutShown, 1);
}

TEST_F(MainWindowTest, ToolbarTooltipsComeFromTheStringTable) {
    open();
    NMTTDISPINFOA request{};
    request.hdr.hwndFrom = nullptr;
    request.hdr.idFrom = IDM_START;
    request.hdr.code = TTN_GETDISPINFOA;
    ::SendMessageA(window->window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&request));
    ASSERT_NE(request.lpszText, nullptr);
    EXPECT_STREQ(request.lpszText, "Start recovery");
    request.hdr.idFrom = IDM_EXIT;
    ::SendMessageA(window->window(), WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&request));
    EXPECT_STREQ(request.lpszText, "Quit");
}

TEST_F(MainWindowTest, TrayModeHidesTheMinimisedWindowUntilTheIconIsClicked) {
    open();
    command(IDM_TRAY);
    EXPECT_TRUE(checked(IDM_TRAY));
    ::ShowWindow(window->window(), SW_MINIMIZE);
    pump();
    EXPECT_FALSE(::IsWindowVisible(window->window()));
    ::SendMessageA(window->window(), gui::trayCallbackMessage, gui::trayIconId, WM_LBUTTONDOWN);
    EXPECT_TRUE(::IsWindowVisible(window->window()));
    EXPECT_FALSE(::IsIconic(window->window()));
    EXPECT_FALSE(window->trayIconShown());
}

TEST_F(MainWindowTest, ExitClosesWithResultTwo) {
    open();
    command(IDM_EXIT);
    EXPECT_EQ(window->result(), 2);
    EXPECT_FALSE(app.restartMainWindow);
}

TEST_F(MainWindowTest, CommandLineShowsTheTaskOfTheBoxesAndOptions) {
    std::vector<std::optional<std::string>> shown;
    hooks.showCommandLine = [&](HWND, HINSTANCE, platform::Platform &,
                                const std::optional<std::string> &text) { shown.push_back(text); };
    open();
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, "C:\\My Data\\x.dbf");
    ::SetDlgItemTextA(window->window(), IDC_OUTPUT, "C:\\out\\y.dbf");
    command(IDM_PACK);
    command(IDM_DELETE_EMPTY);
    command(IDC_COMMAND_LINE);
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, "C:\\data");
    command(IDC_COMMAND_LINE);
    std::string program = "\"" + testing::programFolder() + "salvora.exe\"";
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], program + " \"C:\\My Data\\x.dbf\" /output:C:\\out\\y.dbf /delempty /pack");
    EXPECT_EQ(shown[1], program + " C:\\data\\*.dbf /delempty /pack");
    // Check only and a report file are the window's too.
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, "C:\\data\\x.dbf");
    command(IDM_CHECK_ONLY);
    app.windowReport = "C:\\out\\x.csv";
    command(IDC_COMMAND_LINE);
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2], program + " C:\\data\\x.dbf /check /report:C:\\out\\x.csv /delempty /pack");
}

// The whole way from the window to a repaired table: the command is saved from the dialog and
// the batch file runs in the command interpreter, which starts salvora.exe beside this test.
TEST_F(MainWindowTest, SavedCommandLineRepairsItsTableUnderCmd) {
    ASSERT_TRUE(::CreateDirectoryA(windowsPath(dir.file("My Data")).c_str(), nullptr));
    std::string source = damagedCopy("My Data/customers.dbf");
    std::string output = windowsPath(dir.file("My Data/fixed copy.dbf"));
    std::string batch = windowsPath(dir.file("run"));
    std::vector<std::string> errors;
    hooks.showCommandLine = [&](HWND owner, HINSTANCE resources, platform::Platform &os,
                                const std::optional<std::string> &text) {
        gui::CommandLineDialogHooks dialogHooks;
        dialogHooks.chooseBatchFile = [&](HWND) { return std::optional<std::string>(batch); };
        dialogHooks.informationBox = [&](HWND, const std::string &message, const std::string &) {
            errors.push_back(message);
        };
        HWND dialog = gui::createCommandLineDialog(owner, resources, os, text, dialogHooks);
        ASSERT_NE(dialog, nullptr);
        ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SAVE_BAT, BN_CLICKED), 0);
        ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_FALSE(::IsWindow(dialog));
    };
    open();
    ::SetDlgItemTextA(window->window(), IDC_SOURCE, source.c_str());
    ::SetDlgItemTextA(window->window(), IDC_OUTPUT, output.c_str());
    command(IDM_DELETE_DUPLICATES);
    command(IDC_COMMAND_LINE);
    EXPECT_TRUE(errors.empty());
    testing::Bytes saved = testing::readFile(batch + ".bat");
    std::string savedText(saved.begin(), saved.end());
    EXPECT_EQ(savedText, "\"" + testing::programFolder() + "salvora.exe\" \"" + source +
                             "\" /output:\"" + output + "\" /deldups");

    std::string commandLine = "cmd.exe /c \"" + batch + ".bat\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                 CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process));
    ::WaitForSingleObject(process.hProcess, 60000);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // The interpreter may not wait for a windowed program; the log is written last.
    std::string log = windowsPath(dir.file("My Data/fixed copy.log"));
    auto logText = [&] {
        testing::Bytes bytes = testing::fileExists(log) ? testing::readFile(log) : testing::Bytes();
        return std::string(bytes.begin(), bytes.end());
    };
    for (int i = 0; i < 600 && logText().find("\r\n") == std::string::npos; ++i)
        ::Sleep(100);
    EXPECT_EQ(logText(), source + ": OK\r\n");
    EXPECT_TRUE(testing::fileExists(output));
}

TEST(AboutBox, ShowsTheIconNameAndVersionAndClosesOnOk) {
    HWND box = gui::createAboutBox(nullptr, ::GetModuleHandleA(nullptr));
    ASSERT_NE(box, nullptr);
    char name[128] = {};
    ::GetDlgItemTextA(box, IDC_ABOUT_NAME, name, sizeof name);
    EXPECT_STREQ(name, "Salvora v4.79");
    EXPECT_NE(::SendDlgItemMessageA(box, IDC_ABOUT_ICON, STM_GETIMAGE, IMAGE_ICON, 0), 0);
    EXPECT_NE(::GetDlgItem(box, IDC_ABOUT_WEB), nullptr);
    EXPECT_NE(::GetDlgItem(box, IDC_ABOUT_MAIL), nullptr);
    char caption[64] = {};
    ::GetWindowTextA(box, caption, sizeof caption);
    EXPECT_STREQ(caption, "About");
    ::SendMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_FALSE(::IsWindow(box));
}

TEST(LanguageModules, CarryEveryDialogTheMenuTheStringsAndTheCursor) {
    for (const char *name : {"de.dll", "it.dll", "es.dll", "fr.dll"}) {
        HMODULE module = ::LoadLibraryA(name);
        ASSERT_NE(module, nullptr) << name;
        for (int dialog : {IDD_MAIN, IDD_ABOUT, IDD_COMMAND_LINE})
            EXPECT_NE(::FindResourceA(module, MAKEINTRESOURCEA(dialog), MAKEINTRESOURCEA(5)),
                      nullptr)
                << name << " dialog " << dialog;
        EXPECT_NE(::LoadMenuA(module, MAKEINTRESOURCEA(IDM_MAIN)), nullptr) << name;
        EXPECT_NE(::LoadCursorA(module, "CURSOR_HAND2"), nullptr) << name;
        for (int id : {110, 120, 160, 170, 190, 200, 210, 220, 230, 240, 250, 260, 300, 301, 302,
                       303, 304}) {
            char text[256] = {};
            EXPECT_GT(::LoadStringA(module, static_cast<UINT>(id), text, sizeof text), 0)
                << name << " string " << id;
        }
        for (int id = IDS_CHECK_CAPTION; id <= IDS_TABLE_CANCELLED; ++id) {
            char text[256] = {};
            if (id == 429)
                continue;
            EXPECT_GT(::LoadStringA(module, static_cast<UINT>(id), text, sizeof text), 0)
                << name << " string " << id;
        }
        HMENU menu = ::LoadMenuA(module, MAKEINTRESOURCEA(IDM_MAIN));
        for (int command : {IDM_SHOW_OUTPUT, IDM_CHECK_ONLY, IDM_WRITE_REPORT})
            EXPECT_GT(::GetMenuStringA(menu, static_cast<UINT>(command), nullptr, 0, MF_BYCOMMAND),
                      0)
                << name << " menu " << command;
        ::DestroyMenu(menu);
        char records[256] = {};
        ::LoadStringA(module, 120, records, sizeof records);
        EXPECT_NE(std::string(records).find("%d"), std::string::npos) << name;
    }
}

} // namespace
} // namespace salvora
