#include "gui/commandlinedialog.h"

#include <memory>

#include "app/batchfile.h"
#include "app/commandlinetext.h"
#include "gui/choosers.h"
#include "resources/resource.h"

namespace salvora::gui {

namespace {

constexpr char caption[] = "Salvora";

struct CommandLineDialog {
    bool modal = false;
    platform::Platform &os;
    std::optional<std::string> text;
    CommandLineDialogHooks hooks;
};

CommandLineDialog *dialogOf(HWND dialog) {
    return reinterpret_cast<CommandLineDialog *>(::GetWindowLongPtrA(dialog, DWLP_USER));
}

void initialise(HWND dialog, const CommandLineDialog &state) {
    ::SetDlgItemTextA(dialog, IDC_COMMAND_TEXT,
                      state.text ? state.text->c_str() : commandLineTooLong);
    HWND save = ::GetDlgItem(dialog, IDC_SAVE_BAT);
    if (!state.text)
        ::EnableWindow(save, FALSE);
    else
        ::SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(save), TRUE);
}

void save(HWND dialog, CommandLineDialog &state) {
    if (!state.text || !state.hooks.chooseBatchFile)
        return;
    std::optional<std::string> chosen = state.hooks.chooseBatchFile(dialog);
    if (!chosen)
        return;
    platform::ErrorCode error = saveBatchFile(state.os, batchFileName(*chosen), *state.text);
    if (error != 0 && state.hooks.informationBox)
        state.hooks.informationBox(dialog, state.os.errorText(error), caption);
}

void close(HWND dialog, const CommandLineDialog &state) {
    if (state.modal)
        ::EndDialog(dialog, IDCANCEL);
    else
        ::DestroyWindow(dialog);
}

INT_PTR CALLBACK dialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        initialise(dialog, *reinterpret_cast<CommandLineDialog *>(lParam));
        return FALSE; // the focus is set
    }
    CommandLineDialog *state = dialogOf(dialog);
    if (state == nullptr)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SAVE_BAT) {
            save(dialog, *state);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK) {
            close(dialog, *state);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        close(dialog, *state);
        return TRUE;
    case WM_NCDESTROY:
        ::SetWindowLongPtrA(dialog, DWLP_USER, 0);
        if (!state->modal)
            delete state;
        return FALSE;
    default:
        return FALSE;
    }
}

void systemInformationBox(HWND owner, const std::string &text, const std::string &title) {
    ::MessageBoxA(owner, text.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
}

} // namespace

CommandLineDialogHooks CommandLineDialogHooks::system() {
    CommandLineDialogHooks hooks;
    hooks.chooseBatchFile = gui::chooseBatchFile;
    hooks.informationBox = systemInformationBox;
    return hooks;
}

void showCommandLineDialog(HWND owner, HINSTANCE resources, platform::Platform &os,
                           const std::optional<std::string> &text, CommandLineDialogHooks hooks) {
    CommandLineDialog state{true, os, text, std::move(hooks)};
    ::DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_COMMAND_LINE), owner, dialogProcedure,
                      reinterpret_cast<LPARAM>(&state));
}

HWND createCommandLineDialog(HWND owner, HINSTANCE resources, platform::Platform &os,
                             const std::optional<std::string> &text, CommandLineDialogHooks hooks) {
    auto state =
        std::make_unique<CommandLineDialog>(CommandLineDialog{false, os, text, std::move(hooks)});
    HWND dialog = ::CreateDialogParamA(resources, MAKEINTRESOURCEA(IDD_COMMAND_LINE), owner,
                                       dialogProcedure, reinterpret_cast<LPARAM>(state.get()));
    if (dialog != nullptr)
        state.release(); // freed when the dialog is destroyed
    return dialog;
}

} // namespace salvora::gui
