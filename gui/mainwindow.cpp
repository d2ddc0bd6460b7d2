#include "gui/mainwindow.h"

#include <objbase.h>

#include <array>
#include <set>
#include <vector>

#include "app/addresses.h"
#include "app/commandlinetext.h"
#include "app/enginerun.h"
#include "app/folderrun.h"
#include "app/language.h"
#include "app/persistence.h"
#include "app/queuedwindow.h"
#include "app/resultstext.h"
#include "app/windowrun.h"
#include "app/windowtask.h"
#include "engine/textformat.h"
#include "gui/aboutbox.h"
#include "gui/choosers.h"
#include "gui/commandlinedialog.h"
#include "gui/mainwindowdialog.h"
#include "resources/resource.h"

namespace salvora::gui {

namespace {

constexpr const char *caption = messageCaption;

struct ToolbarButton {
    int command;
    int icon;
    int tip;
};

constexpr std::array<ToolbarButton, 5> toolbarButtons = {{
    {IDM_START, IDI_START, IDS_TIP_START},
    {IDM_HELP, IDI_HELP, IDS_TIP_HELP},
    {IDM_ABOUT, IDI_ABOUT, IDS_TIP_ABOUT},
    {IDM_MAIL, IDI_SUPPORT, IDS_TIP_MAIL},
    {IDM_EXIT, IDI_QUIT, IDS_TIP_QUIT},
}};

struct ButtonTip {
    int control;
    int tip;
};

constexpr std::array<ButtonTip, 4> buttonTips = {{
    {IDC_BROWSE_SOURCE, IDS_TIP_BROWSE_SOURCE},
    {IDC_BROWSE_OUTPUT, IDS_TIP_BROWSE_OUTPUT},
    {IDC_SOURCE_FOLDER, IDS_TIP_SOURCE_FOLDER},
    {IDC_OUTPUT_FOLDER, IDS_TIP_OUTPUT_FOLDER},
}};

HINSTANCE ownModule() {
    return ::GetModuleHandleA(nullptr);
}

HICON programIcon() {
    return ::LoadIconA(ownModule(), "ICON1");
}

std::string programFolder() {
    char path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length < MAX_PATH ? length : 0);
    std::size_t slash = folder.find_last_of('\\');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

int systemMessageBox(HWND owner, const std::string &text, const std::string &title, UINT type) {
    return ::MessageBoxA(owner, text.c_str(), title.c_str(), type);
}

void removeTrayIcon(HWND window) {
    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = trayIconId;
    ::Shell_NotifyIconA(NIM_DELETE, &icon);
}

} // namespace

MainWindowHooks MainWindowHooks::system() {
    MainWindowHooks hooks;
    hooks.openTable = chooseTableToOpen;
    hooks.saveTable = chooseTableToSave;
    hooks.chooseFolder = gui::chooseFolder;
    hooks.messageBox = systemMessageBox;
    hooks.showAbout = [](HWND owner, HINSTANCE resources) { showAboutBox(owner, resources); };
    hooks.showCommandLine = [](HWND owner, HINSTANCE resources, platform::Platform &os,
                               const std::optional<std::string> &text) {
        showCommandLineDialog(owner, resources, os, text);
    };
    hooks.chooseReport = chooseReportFile;
    hooks.currentFolder = gui::currentFolder;
    return hooks;
}

MainWindow::MainWindow(AppContext &app, MainWindowHooks hooks)
    : app_(app), hooks_(std::move(hooks)),
      run_([this] { ::PostMessageA(window_, runEventsMessage, 0, 0); }) {}

MainWindow::~MainWindow() {
    if (window_ != nullptr && !modal_)
        ::DestroyWindow(window_);
}

int MainWindow::runModal() {
    modal_ = true;
    ::DialogBoxParamA(resources(), MAKEINTRESOURCEA(IDD_MAIN), ::GetActiveWindow(), dialogProcedure,
                      reinterpret_cast<LPARAM>(this));
    return result_;
}

HWND MainWindow::createModeless() {
    modal_ = false;
    return ::CreateDialogParamA(resources(), MAKEINTRESOURCEA(IDD_MAIN), nullptr, dialogProcedure,
                                reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainWindow::dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        reinterpret_cast<MainWindow *>(lParam)->window_ = window;
    }
    auto *self = reinterpret_cast<MainWindow *>(::GetWindowLongPtrA(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    INT_PTR handled = self->handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        ::SetWindowLongPtrA(window, DWLP_USER, 0);
        self->window_ = nullptr;
    }
    return handled;
}

INT_PTR MainWindow::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initialise();
        return TRUE;
    case WM_COMMAND:
        command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return TRUE;
    case WM_NOTIFY:
        return toolbarTip(reinterpret_cast<NMHDR *>(lParam));
    case WM_DROPFILES:
        dropped(reinterpret_cast<HDROP>(wParam));
        return TRUE;
    case WM_HELP:
        help();
        return TRUE;
    case WM_SIZE:
        ::SendDlgItemMessageA(window_, IDC_STATUS, WM_SIZE, 0, 0);
        ::SendDlgItemMessageA(window_, IDC_TOOLBAR, TB_AUTOSIZE, 0, 0);
        if (wParam == SIZE_MINIMIZED)
            minimised();
        return TRUE;
    case runEventsMessage:
        runEvents();
        return TRUE;
    case trayCallbackMessage:
        trayClicked(lParam);
        return TRUE;
    case WM_CLOSE:
        close(windowClosedResult);
        return TRUE;
    case WM_DESTROY:
        run_.cancel();
        if (trayIconShown_) {
            removeTrayIcon(window_);
            trayIconShown_ = false;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

HINSTANCE MainWindow::resources() const {
    // A language library that failed to load leaves no module: the program's own then serves.
    return app_.resourceModule != 0 ? reinterpret_cast<HINSTANCE>(app_.resourceModule)
                                    : ownModule();
}

std::string MainWindow::text(int stringId) const {
    return loadString(app_, stringId);
}

void MainWindow::initialise() {
    app_.restartMainWindow = false;
    attachMenu();

    HWND languages = ::GetDlgItem(window_, IDC_LANGUAGE_LIST);
    for (int i = 0; i < 5; ++i)
        ::SendMessageA(languages, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(text(IDS_LANGUAGE_NAMES + i).c_str()));
    ::SendMessageA(languages, CB_SETCURSEL, static_cast<WPARAM>(app_.language), 0);

    ::SetClassLongPtrA(window_, GCLP_HICON, reinterpret_cast<LONG_PTR>(programIcon()));
    ::DragAcceptFiles(window_, TRUE);
    setStatus(text(IDS_SELECT_TABLE));
    ::CheckDlgButton(window_, IDC_KEEP_DELETED, BST_CHECKED);
    startCaption_ = controlText(IDC_START, 256);
    showStartCaption();

    createTooltips();
    createToolbar();
    fillHistory();
    takeWindowArguments();
}

void MainWindow::attachMenu() {
    MenuHandle menu(::LoadMenuA(resources(), MAKEINTRESOURCEA(IDM_MAIN)));
    if (menu && ::SetMenu(window_, menu.get()))
        menu.release(); // the window destroys its menu
    showCheckMarks();
}

void MainWindow::showCheckMarks() {
    HMENU menu = ::GetMenu(window_);
    const RecoveryOptions &options = app_.options;
    auto mark = [menu](int id, bool on) {
        ::CheckMenuItem(menu, static_cast<UINT>(id),
                        MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED));
    };
    mark(IDM_PACK, options.pack != 0);
    mark(IDM_RECOVER_DELETED, options.recoverDeleted != 0);
    mark(IDM_DELETE_INVALID_MEMO, options.deleteInvalidMemo != 0);
    mark(IDM_DELETE_EMPTY, options.deleteEmpty != 0);
    mark(IDM_DELETE_DUPLICATES, options.deleteDuplicates != 0);
    mark(IDM_KEEP_ORIGINAL, options.keepOriginal != 0);
    mark(IDM_TRAY, app_.trayMode);
    mark(IDM_CHECK_ONLY, app_.windowCheckOnly);
    mark(IDM_WRITE_REPORT, !app_.windowReport.empty());
}

void MainWindow::createTooltips() {
    // Owned by the dialog, which destroys it along with itself.
    HWND tips = ::CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  window_, nullptr, ownModule(), nullptr);
    if (tips == nullptr)
        return;
    for (const ButtonTip &tip : buttonTips) {
        std::string tipText = text(tip.tip);
        TTTOOLINFOA tool{};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(::GetDlgItem(window_, tip.control));
        tool.lpszText = tipText.data();
        ::SendMessageA(tips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}

void MainWindow::createToolbar() {
    RECT client{};
    ::GetClientRect(window_, &client);
    HWND toolbar = ::CreateWindowExA(
        0, TOOLBARCLASSNAMEA, nullptr,
        WS_CHILD | WS_VISIBLE | TBSTYLE_TRANSPARENT | TBSTYLE_FLAT | TBSTYLE_ALTDRAG |
            TBSTYLE_TOOLTIPS | CCS_ADJUSTABLE | CCS_TOP,
        0, 0, client.right - client.left, 16, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_TOOLBAR)), ownModule(), nullptr);
    if (toolbar == nullptr)
        return;
    ::SendMessageA(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);

    HDC screen = ::GetDC(nullptr);
    int bitsPerPixel = ::GetDeviceCaps(screen, BITSPIXEL);
    ::ReleaseDC(nullptr, screen);
    UINT colours = bitsPerPixel <= 8 ? ILC_COLOR8 : ILC_COLOR32;
    toolbarImages_.reset(
        ::ImageList_Create(32, 32, colours | ILC_MASK, static_cast<int>(toolbarButtons.size()), 0));
    for (const ToolbarButton &button : toolbarButtons) {
        IconHandle icon(static_cast<HICON>(
            ::LoadImageA(ownModule(), MAKEINTRESOURCEA(button.icon), IMAGE_ICON, 32, 32, 0)));
        ::ImageList_AddIcon(toolbarImages_.get(), icon.get());
    }
    ::SendMessageA(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(toolbarImages_.get()));

    // "Start!#Help#...#Quit##" becomes the zero-separated list the toolbar takes.
    std::string labels = text(IDS_TOOLBAR_BUTTONS);
    for (char &c : labels)
        if (c == '#')
            c = '\0';
    labels.push_back('\0');
    LRESULT firstLabel =
        ::SendMessageA(toolbar, TB_ADDSTRINGA, 0, reinterpret_cast<LPARAM>(labels.data()));

    std::vector<TBBUTTON> buttons;
    for (std::size_t i = 0; i < toolbarButtons.size(); ++i) {
        TBBUTTON button{};
        button.iBitmap = static_cast<int>(i);
        button.idCommand = toolbarButtons[i].command;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_AUTOSIZE;
        button.iString = firstLabel + static_cast<INT_PTR>(i);
        buttons.push_back(button);
    }
    ::SendMessageA(toolbar, TB_ADDBUTTONSA, buttons.size(),
                   reinterpret_cast<LPARAM>(buttons.data()));
    ::SendMessageA(toolbar, TB_AUTOSIZE, 0, 0);
}

void MainWindow::fillHistory() {
    for (std::size_t i = 0; i < app_.history.size(); ++i) {
        ::SendDlgItemMessageA(window_, IDC_SOURCE, CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(app_.history.source(i).c_str()));
        ::SendDlgItemMessageA(window_, IDC_OUTPUT, CB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(app_.history.output(i).c_str()));
    }
}

void MainWindow::takeWindowArguments() {
    if (app_.keptWindowNames) {
        // A window rebuilt for another language carries on where the user was.
        auto [source, output] = *app_.keptWindowNames;
        app_.keptWindowNames.reset();
        ::SetDlgItemTextA(window_, IDC_SOURCE, source.c_str());
        ::SetDlgItemTextA(window_, IDC_OUTPUT, output.c_str());
        if (!source.empty())
            enableStart(true);
        return;
    }
    auto names = windowStartNames(app_.windowArguments);
    if (!names)
        return;
    ::SetDlgItemTextA(window_, IDC_SOURCE, names->source.c_str());
    ::SetDlgItemTextA(window_, IDC_OUTPUT, names->output.c_str());
    enableStart(true);
    // A dialog without WS_VISIBLE is shown only once its queue is idle, after the posted
    // command: show it now, so that the run and its boxes have a visible window.
    ::ShowWindow(window_, SW_SHOW);
    ::UpdateWindow(window_);
    ::PostMessageA(window_, WM_COMMAND, MAKEWPARAM(IDM_START, BN_CLICKED), 0);
}

void MainWindow::command(int id, int code, HWND control) {
    HWND languageList = ::GetDlgItem(window_, IDC_LANGUAGE_LIST);
    if (control != nullptr && control == languageList)
        return; // shares its number with the About command
    switch (id) {
    case IDC_SOURCE:
        if (code == CBN_SELCHANGE)
            historyPicked();
        else if (code == CBN_EDITCHANGE)
            enableStart(false);
        return;
    case IDM_START:
        if (running())
            run_.cancel();
        else
            start();
        return;
    case IDM_BROWSE:
        browseSource();
        return;
    case IDC_BROWSE_OUTPUT:
        browseOutput();
        return;
    case IDC_SOURCE_FOLDER:
        selectSourceFolder();
        return;
    case IDC_OUTPUT_FOLDER:
        selectOutputFolder();
        return;
    case IDC_COMMAND_LINE:
        showCommandLine();
        return;
    case IDM_CLEAN_HISTORY:
        cleanHistory();
        return;
    case IDM_EXIT:
        close(windowClosedResult);
        return;
    case IDCANCEL:
        return; // Esc: only Exit or closing the window ends the program
    case IDM_HELP:
        help();
        return;
    case IDM_MAIL:
        app_.system.shellOpen(std::string("mailto:") + supportMailAddress);
        return;
    case IDM_PRODUCT_PAGE:
        app_.system.shellOpen(productAddress);
        return;
    case IDM_ABOUT:
        if (hooks_.showAbout)
            hooks_.showAbout(window_, resources());
        return;
    case IDM_PACK:
    case IDM_RECOVER_DELETED:
    case IDM_DELETE_INVALID_MEMO:
    case IDM_DELETE_EMPTY:
    case IDM_DELETE_DUPLICATES:
    case IDM_KEEP_ORIGINAL:
    case IDM_TRAY:
        toggleOption(id);
        return;
    case IDM_CHECK_ONLY:
        toggleCheckOnly();
        return;
    case IDM_WRITE_REPORT:
        chooseReport();
        return;
    case IDM_SHOW_OUTPUT:
        showOutput();
        return;
    case IDM_ENGLISH:
    case IDM_GERMAN:
    case IDM_ITALIAN:
    case IDM_SPANISH:
    case IDM_FRENCH:
        if (running())
            return; // the window would close under the run
        if (switchLanguage(app_, id)) {
            app_.keptWindowNames.emplace(controlText(IDC_SOURCE, nameBoxLimit),
                                         controlText(IDC_OUTPUT, nameBoxLimit));
            close(windowClosedResult);
        }
        return;
    default:
        return;
    }
}

void MainWindow::start() {
    std::string source = controlText(IDC_SOURCE, nameBoxLimit);
    if (source.empty()) {
        hooks_.messageBox(window_, text(IDS_SELECT_TABLE), caption, MB_OK | MB_ICONINFORMATION);
        ::SendMessageA(window_, WM_NEXTDLGCTL,
                       reinterpret_cast<WPARAM>(::GetDlgItem(window_, IDC_BROWSE_SOURCE)), TRUE);
        return;
    }
    std::string output = controlText(IDC_OUTPUT, nameBoxLimit);
    if (isFolderSource(source))
        startFolder(source, output);
    else
        startTable(source, output);
}

// The run goes on a worker; Start turns into Cancel until the outcome comes back.
void MainWindow::runStarted() {
    setControlText(IDC_START, text(IDS_CANCEL_RUN));
    enableShowOutput(false);
    progressSetPos(IDC_PROGRESS, 0);
}

void MainWindow::startTable(const std::string &source, const std::string &output) {
    setStatus(text(IDS_STARTING));
    RecoveryRequest request = windowRecoveryRequest(app_, source, output);
    request.keepDeleted = isChecked(IDC_KEEP_DELETED);
    runNames_ = {source, output};
    app_.lastSource = source;
    app_.lastOutput = output;
    runKind_ = RunKind::Table;
    tableJob_ = std::make_shared<WindowTableJob>(std::move(request), app_.windowCheckOnly,
                                                 app_.windowReport);
    runStarted();
    EngineContext &engine = app_.engine;
    run_.start(
        [&engine, job = tableJob_](RunObserver &observer) { return job->run(engine, observer); });
}

void MainWindow::startFolder(const std::string &source, const std::string &output) {
    FolderRunChoices choices;
    choices.checkOnly = app_.windowCheckOnly;
    choices.skippedSecondName = text(IDS_SKIPPED_SECOND_NAME);
    choices.tableCancelled = text(IDS_TABLE_CANCELLED);
    choices.folderCancelled = text(IDS_FOLDER_CANCELLED);
    choices.tableOk = text(IDS_TABLE_OK);
    choices.tableUnrecoverable = text(IDS_TABLE_UNRECOVERABLE);
    choices.verdictSound = text(IDS_VERDICT_SOUND);
    choices.verdictNeedsRepair = text(IDS_VERDICT_NEEDS_REPAIR);
    choices.verdictUnreadable = text(IDS_VERDICT_UNREADABLE);
    choices.starting = text(IDS_STARTING);
    choices.startingTable = text(IDS_STARTING_TABLE);
    choices.complete = text(IDS_PROCESS_COMPLETE);
    std::set<int> checked;
    if (isChecked(IDC_KEEP_DELETED))
        checked.insert(IDC_KEEP_DELETED);
    auto queued = std::make_shared<QueuedWindow>(run_, std::move(checked));
    RecoveryRequest request = windowRecoveryRequest(app_, source, output);
    runNames_ = {source, output};
    runKind_ = RunKind::Folder;
    runStarted();
    EngineContext &engine = app_.engine;
    run_.start([&engine, queued, source, output, request, choices](RunObserver &observer) {
        runFolderRecovery(engine, queued.get(), source, output, true, request, observer, choices);
        RecoveryOutcome outcome;
        outcome.cancelled = observer.cancelled();
        return outcome;
    });
}

void MainWindow::runEvents() {
    BackgroundRun::Taken taken = run_.take();
    ConsoleRunObserver console(app_);
    WindowRunObserver observer(*this, WindowRunKind::Single, console);
    // A folder run shows itself through its queued window; its runs' words go to the console.
    RunObserver &target = runKind_ == RunKind::Table ? static_cast<RunObserver &>(observer)
                                                     : static_cast<RunObserver &>(console);
    for (const RunEvent &event : taken.events) {
        if (replayOnWindow(event, *this))
            continue;
        if (event.kind == RunEvent::Kind::RecordReached && runKind_ == RunKind::Table)
            observer.progressAt(event.index, event.records);
        else
            replay(event, target);
    }
    if (!taken.outcome)
        return;
    showStartCaption();
    if (runKind_ == RunKind::Folder)
        folderRunEnded(*taken.outcome);
    else
        tableRunEnded(*taken.outcome);
}

void MainWindow::tableRunEnded(const RecoveryOutcome &outcome) {
    std::shared_ptr<WindowTableJob> job = std::move(tableJob_);
    if (outcome.cancelled) {
        setControlText(IDC_LOG, text(IDS_RUN_CANCELLED));
        setStatus("");
        progressSetPos(IDC_PROGRESS, 0);
        return;
    }
    setControlText(IDC_LOG,
                   job->resultsText(app_, outcome, controlText(IDC_LOG, resultsTextLimit)));
    if (job->checkOnly()) {
        setStatus("");
        return;
    }
    if (outcome.result != recoveryFixed)
        return;
    shownOutput_ = runNames_.output;
    shownOutputIsFolder_ = false;
    enableShowOutput(true);
    hooks_.messageBox(window_, formatText(text(IDS_SAVED_FIXED), runNames_.output), caption,
                      MB_OK | MB_ICONINFORMATION);
}

void MainWindow::folderRunEnded(const RecoveryOutcome &outcome) {
    if (!app_.windowReport.empty()) {
        std::string results = controlText(IDC_LOG, resultsTextLimit);
        if (!results.empty())
            setControlText(IDC_LOG, results + text(IDS_REPORT_SINGLE_TABLE) + "\r\n");
    }
    if (outcome.cancelled || app_.windowCheckOnly)
        return;
    shownOutput_ = runNames_.output.empty() ? runNames_.source : runNames_.output;
    shownOutputIsFolder_ = true;
    enableShowOutput(true);
}

void MainWindow::toggleCheckOnly() {
    app_.windowCheckOnly = !app_.windowCheckOnly;
    showCheckMarks();
    if (!running())
        showStartCaption();
}

// Chosen again while set, the report is given up.
void MainWindow::chooseReport() {
    if (!app_.windowReport.empty()) {
        app_.windowReport.clear();
    } else if (hooks_.chooseReport) {
        if (auto chosen = hooks_.chooseReport(window_, text(IDS_REPORT_FILTER)))
            app_.windowReport = *chosen;
    }
    showCheckMarks();
}

void MainWindow::showStartCaption() {
    setControlText(IDC_START, app_.windowCheckOnly ? text(IDS_CHECK_CAPTION) : startCaption_);
}

void MainWindow::enableShowOutput(bool enable) {
    ::EnableWindow(::GetDlgItem(window_, IDC_SHOW_OUTPUT), enable ? TRUE : FALSE);
    ::EnableMenuItem(::GetMenu(window_), IDM_SHOW_OUTPUT,
                     MF_BYCOMMAND | (enable ? MF_ENABLED : MF_GRAYED));
}

// The file selected in its folder, or the folder itself, in the system's file manager.
void MainWindow::showOutput() {
    if (shownOutput_.empty())
        return;
    char full[MAX_PATH] = {};
    DWORD length = ::GetFullPathNameA(shownOutput_.c_str(), MAX_PATH, full, nullptr);
    std::string path = length > 0 && length < MAX_PATH ? std::string(full, length) : shownOutput_;
    app_.system.startProgram(shownOutputIsFolder_ ? "explorer \"" + path + "\""
                                                  : "explorer /select,\"" + path + "\"");
}

void MainWindow::browseSource() {
    auto chosen = hooks_.openTable(window_, app_.lastFolder);
    if (!chosen)
        return;
    ::SetDlgItemTextA(window_, IDC_SOURCE, chosen->c_str());
    ::SetDlgItemTextA(window_, IDC_OUTPUT, chosen->c_str());
    app_.lastFolder = hooks_.currentFolder();
    enableStart(true);
    setStatus(text(IDS_CLICK_START));
}

void MainWindow::browseOutput() {
    auto chosen = hooks_.saveTable(window_, app_.lastFolder);
    if (chosen)
        ::SetDlgItemTextA(window_, IDC_OUTPUT, chosen->c_str());
}

void MainWindow::selectSourceFolder() {
    auto chosen = hooks_.chooseFolder(window_);
    if (!chosen)
        return;
    app_.lastFolder = *chosen;
    ::SetDlgItemTextA(window_, IDC_SOURCE, chosen->c_str());
    ::SetDlgItemTextA(window_, IDC_OUTPUT, chosen->c_str());
    ::ShowWindow(::GetDlgItem(window_, IDC_OUTPUT_FOLDER), SW_SHOW);
    setStatus("");
    enableStart(true);
}

void MainWindow::selectOutputFolder() {
    auto chosen = hooks_.chooseFolder(window_);
    if (!chosen)
        return;
    app_.lastFolder = *chosen;
    ::SetDlgItemTextA(window_, IDC_OUTPUT, chosen->c_str());
    enableStart(true);
}

void MainWindow::showCommandLine() {
    if (!hooks_.showCommandLine)
        return;
    std::string source = controlText(IDC_SOURCE, nameBoxLimit);
    std::string output = controlText(IDC_OUTPUT, nameBoxLimit);
    CommandLineRun run{app_.windowCheckOnly, app_.windowReport};
    hooks_.showCommandLine(
        window_, resources(), app_.engine.os,
        buildCommandLineText(programFolder(), source, output, app_.options, run));
}

void MainWindow::historyPicked() {
    LRESULT index = ::SendDlgItemMessageA(window_, IDC_SOURCE, CB_GETCURSEL, 0, 0);
    ::SendDlgItemMessageA(window_, IDC_OUTPUT, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    enableStart(true);
}

void MainWindow::dropped(HDROP drop) {
    DropHandle owned(drop);
    char path[MAX_PATH] = {};
    if (::DragQueryFileA(drop, 0, path, MAX_PATH) == 0)
        return;
    std::string name(path);
    std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || findNoCase(name.substr(dot + 1), "dbf") != 0 ||
        name.size() - dot - 1 != 3)
        return;
    ::SetDlgItemTextA(window_, IDC_SOURCE, path);
    ::SetDlgItemTextA(window_, IDC_OUTPUT, path);
    enableStart(true);
    setStatus(text(IDS_CLICK_START));
}

void MainWindow::cleanHistory() {
    if (hooks_.messageBox(window_, "Do you wish to clean history list ?", caption, MB_YESNO) !=
        IDYES)
        return;
    clearRememberedHistory(app_);
    ::SendDlgItemMessageA(window_, IDC_SOURCE, CB_RESETCONTENT, 0, 0);
    ::SendDlgItemMessageA(window_, IDC_OUTPUT, CB_RESETCONTENT, 0, 0);
}

void MainWindow::toggleOption(int id) {
    RecoveryOptions &options = app_.options;
    switch (id) {
    case IDM_PACK:
        options.pack ^= 1;
        options.recoverDeleted = 0;
        break;
    case IDM_RECOVER_DELETED:
        options.recoverDeleted ^= 1;
        if (options.recoverDeleted)
            options.pack = 0;
        break;
    case IDM_DELETE_INVALID_MEMO:
        options.deleteInvalidMemo ^= 1;
        break;
    case IDM_DELETE_EMPTY:
        options.deleteEmpty ^= 1;
        break;
    case IDM_DELETE_DUPLICATES:
        options.deleteDuplicates ^= 1;
        break;
    case IDM_KEEP_ORIGINAL:
        options.keepOriginal ^= 1;
        break;
    case IDM_TRAY:
        app_.trayMode = !app_.trayMode;
        break;
    default:
        return;
    }
    showCheckMarks();
}

void MainWindow::help() {
    app_.system.shellOpen(programFolder() + "salvora.chm");
}

bool MainWindow::toolbarTip(NMHDR *header) {
    if (header == nullptr || (header->code != TTN_GETDISPINFOA && header->code != TTN_GETDISPINFOW))
        return false;
    int tip = 0;
    for (const ToolbarButton &button : toolbarButtons)
        if (static_cast<UINT_PTR>(button.command) == header->idFrom)
            tip = button.tip;
    if (tip == 0)
        return false;
    std::string tipText = text(tip).substr(0, sizeof tipText_ - 1);
    if (header->code == TTN_GETDISPINFOA) {
        tipText.copy(tipText_, tipText.size());
        tipText_[tipText.size()] = '\0';
        reinterpret_cast<NMTTDISPINFOA *>(header)->lpszText = tipText_;
    } else {
        // A Unicode tooltip asks for wide text; the strings are in the ANSI code page.
        int length = ::MultiByteToWideChar(CP_ACP, 0, tipText.c_str(), -1, tipTextWide_,
                                           static_cast<int>(std::size(tipTextWide_)));
        if (length == 0)
            tipTextWide_[0] = L'\0';
        reinterpret_cast<NMTTDISPINFOW *>(header)->lpszText = tipTextWide_;
    }
    return true;
}

void MainWindow::minimised() {
    if (!app_.trayMode || trayIconShown_)
        return;
    NOTIFYICONDATAA icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window_;
    icon.uID = trayIconId;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = trayCallbackMessage;
    icon.hIcon = programIcon();
    ::lstrcpynA(icon.szTip, caption, 64);
    trayIconShown_ = ::Shell_NotifyIconA(NIM_ADD, &icon) != FALSE;
    ::ShowWindow(window_, SW_HIDE);
}

void MainWindow::trayClicked(LPARAM mouseMessage) {
    if (mouseMessage != WM_LBUTTONDOWN)
        return;
    ::ShowWindow(window_, SW_SHOW);
    ::ShowWindow(window_, SW_RESTORE);
    removeTrayIcon(window_);
    trayIconShown_ = false;
}

void MainWindow::enableStart(bool commandLineToo) {
    ::EnableWindow(::GetDlgItem(window_, IDC_START), TRUE);
    if (commandLineToo)
        ::EnableWindow(::GetDlgItem(window_, IDC_COMMAND_LINE), TRUE);
}

void MainWindow::setStatus(const std::string &status) {
    setControlText(IDC_STATUS, status);
}

void MainWindow::close(int result) {
    run_.cancel();
    result_ = result;
    if (modal_)
        ::EndDialog(window_, result);
    else
        ::DestroyWindow(window_);
}

std::string MainWindow::controlText(int id, std::size_t limit) {
    std::vector<char> buffer(limit > 0 ? limit : 1, '\0');
    UINT length = ::GetDlgItemTextA(window_, id, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), length);
}

void MainWindow::setControlText(int id, const std::string &controlText) {
    if (id == IDC_STATUS)
        ::SendDlgItemMessageA(window_, IDC_STATUS, SB_SETTEXTA, 0,
                              reinterpret_cast<LPARAM>(controlText.c_str()));
    else
        ::SetDlgItemTextA(window_, id, controlText.c_str());
}

void MainWindow::repaintControl(int id) {
    ::UpdateWindow(::GetDlgItem(window_, id));
}

bool MainWindow::isChecked(int id) {
    return ::IsDlgButtonChecked(window_, id) == BST_CHECKED;
}

void MainWindow::progressSetRange(int id, std::uint32_t minimum, std::uint32_t maximum) {
    ::SendDlgItemMessageA(window_, id, PBM_SETRANGE32, minimum, static_cast<LPARAM>(maximum));
}

void MainWindow::progressSetStep(int id, std::uint32_t step) {
    ::SendDlgItemMessageA(window_, id, PBM_SETSTEP, step, 0);
}

void MainWindow::progressStepIt(int id) {
    ::SendDlgItemMessageA(window_, id, PBM_STEPIT, 0, 0);
}

void MainWindow::progressSetPos(int id, std::uint32_t position) {
    ::SendDlgItemMessageA(window_, id, PBM_SETPOS, position, 0);
}

void MainWindow::messageBox(const std::string &boxText, const std::string &boxCaption,
                            MessageIcon icon) {
    hooks_.messageBox(window_, boxText, boxCaption,
                      MB_OK | (icon == MessageIcon::Information ? MB_ICONINFORMATION : 0));
}

int showMainWindow(AppContext &app) {
    // Once per process, before the first window: the folder browser needs COM.
    static const HRESULT com = ::CoInitialize(nullptr);
    (void)com;
    MainWindow window(app, MainWindowHooks::system());
    return window.runModal();
}

} // namespace salvora::gui
