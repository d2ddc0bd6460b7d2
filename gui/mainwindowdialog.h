// The main window (dialog 1): names, options menu, toolbar, history, drag and drop, tray icon,
// and Start, which hands the names to the recovery run or the folder run. The window is the
// run's `RunWindow`. Tests create it modeless and drive it with messages.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/appcontext.h"
#include "app/backgroundrun.h"
#include "app/runwindow.h"
#include "app/windowtablejob.h"
#include "app/windowtask.h"
#include "gui/handles.h"

namespace salvora::gui {

// What the window asks of the user and the system outside its own controls; the defaults
// are the real dialogs, tests put stand-ins here.
struct MainWindowHooks {
    std::function<std::optional<std::string>(HWND owner, const std::string &initialFolder)>
        openTable;
    std::function<std::optional<std::string>(HWND owner, const std::string &initialFolder)>
        saveTable;
    std::function<std::optional<std::string>(HWND owner)> chooseFolder;
    // Returns the button pressed (IDOK, IDYES, IDNO).
    std::function<int(HWND owner, const std::string &text, const std::string &caption, UINT type)>
        messageBox;
    std::function<void(HWND owner, HINSTANCE resources)> showAbout;
    // The Command Line dialog with the command built from the boxes and options, or nothing
    // when that command would be too long.
    std::function<void(HWND owner, HINSTANCE resources, platform::Platform &os,
                       const std::optional<std::string> &text)>
        showCommandLine;
    // The report file for "Write report...", with the filter's name.
    std::function<std::optional<std::string>(HWND owner, const std::string &filterName)>
        chooseReport;
    // The folder "Current folder" means after a file dialog.
    std::function<std::string()> currentFolder;

    static MainWindowHooks system();
};

inline constexpr UINT trayCallbackMessage = 5000;
// Posted by the worker of a table run: its events wait to be taken.
inline constexpr UINT runEventsMessage = WM_APP + 1;
inline constexpr UINT trayIconId = 1000;
inline constexpr int windowClosedResult = 2;

class MainWindow final : public RunWindow {
  public:
    MainWindow(AppContext &app, MainWindowHooks hooks);
    ~MainWindow() override;
    MainWindow(const MainWindow &) = delete;
    MainWindow &operator=(const MainWindow &) = delete;

    // Shows the window and returns when it closes, with result 2.
    int runModal();
    // The window without a modal loop; it destroys itself when it closes.
    HWND createModeless();

    HWND window() const { return window_; }
    // 2 once the window has closed, -1 while it is open.
    int result() const { return result_; }
    bool trayIconShown() const { return trayIconShown_; }
    // True while a table run goes on its worker thread.
    bool running() const { return run_.running(); }

    // RunWindow
    std::string controlText(int id, std::size_t limit) override;
    void setControlText(int id, const std::string &text) override;
    void repaintControl(int id) override;
    bool isChecked(int id) override;
    void progressSetRange(int id, std::uint32_t minimum, std::uint32_t maximum) override;
    void progressSetStep(int id, std::uint32_t step) override;
    void progressStepIt(int id) override;
    void progressSetPos(int id, std::uint32_t position) override;
    void messageBox(const std::string &text, const std::string &caption, MessageIcon icon) override;

  private:
    static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE resources() const;
    std::string text(int stringId) const;

    void initialise();
    void attachMenu();
    void createTooltips();
    void createToolbar();
    void fillHistory();
    void takeWindowArguments();

    void command(int id, int code, HWND control);
    void start();
    void startTable(const std::string &source, const std::string &output);
    void startFolder(const std::string &source, const std::string &output);
    void runStarted();
    void runEvents();
    void tableRunEnded(const RecoveryOutcome &outcome);
    void folderRunEnded(const RecoveryOutcome &outcome);
    void toggleCheckOnly();
    void chooseReport();
    void showStartCaption();
    void enableShowOutput(bool enable);
    void showOutput();
    void browseSource();
    void browseOutput();
    void selectSourceFolder();
    void selectOutputFolder();
    void showCommandLine();
    void historyPicked();
    void dropped(HDROP drop);
    void cleanHistory();
    void toggleOption(int id);
    void showCheckMarks();
    void help();
    bool toolbarTip(NMHDR *header);
    void minimised();
    void trayClicked(LPARAM mouseMessage);
    void enableStart(bool commandLineToo);
    void setStatus(const std::string &status);
    void close(int result);

    AppContext &app_;
    MainWindowHooks hooks_;
    HWND window_ = nullptr;
    bool modal_ = false;
    int result_ = -1;
    bool trayIconShown_ = false;
    ImageListHandle toolbarImages_;
    char tipText_[256] = {};
    wchar_t tipTextWide_[256] = {};
    // Start's caption as the dialog resource has it ("&Start").
    std::string startCaption_;
    WindowNames runNames_;
    enum class RunKind { Table, Folder };
    RunKind runKind_ = RunKind::Table;
    std::shared_ptr<WindowTableJob> tableJob_;
    // What "Show output" shows: a file (selected in its folder) or a folder.
    std::string shownOutput_;
    bool shownOutputIsFolder_ = false;
    // Last: a run still going is cancelled and waited for before the rest goes.
    BackgroundRun run_;
};

} // namespace salvora::gui
