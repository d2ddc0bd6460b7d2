// Every language module's dialogs as the system lays them out: each button, check box and
// label must show its whole text in the dialog's own font.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "resources/resource.h"

namespace salvora {
namespace {

INT_PTR CALLBACK quietProcedure(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

struct Control {
    HWND window;
    std::string className;
    LONG style;
};

// Room a control leaves for its text: a push button's frame, a check box's square.
int roomFor(const Control &control, int clientWidth) {
    if (control.className != "Button")
        return clientWidth;
    LONG kind = control.style & BS_TYPEMASK;
    bool pushed = kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON;
    return clientWidth - (pushed ? 2 * ::GetSystemMetrics(SM_CXEDGE) + 2 : 18);
}

std::string overflows(HWND dialog) {
    std::string found;
    auto font = reinterpret_cast<HFONT>(::SendMessageA(dialog, WM_GETFONT, 0, 0));
    HDC dc = ::GetDC(dialog);
    HGDIOBJ previous = ::SelectObject(dc, font);
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        char className[64] = {};
        ::GetClassNameA(child, className, sizeof className);
        Control control{child, className, ::GetWindowLongA(child, GWL_STYLE)};
        if ((control.style & WS_VISIBLE) == 0 || ::GetWindowLongA(child, GWL_ID) == IDC_ABOUT_WEB ||
            ::GetWindowLongA(child, GWL_ID) == IDC_ABOUT_MAIL)
            continue;
        if (control.className != "Button" && control.className != "Static")
            continue;
        if (control.className == "Static" && (control.style & SS_TYPEMASK) == SS_ICON)
            continue;
        char text[512] = {};
        int length = ::GetWindowTextA(child, text, sizeof text);
        if (length == 0)
            continue;
        RECT client;
        ::GetClientRect(child, &client);
        int room = roomFor(control, client.right);
        // Labels may wrap onto the lines they have; buttons have one line.
        bool wraps = control.className == "Static";
        RECT needed{0, 0, room, 0};
        ::DrawTextA(dc, text, length, &needed,
                    DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
        if (needed.right > room || needed.bottom > client.bottom)
            found += std::string(" \"") + text + "\" needs " + std::to_string(needed.right) + "x" +
                     std::to_string(needed.bottom) + " of " + std::to_string(room) + "x" +
                     std::to_string(client.bottom) + ";";
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(dialog, dc);
    return found;
}

TEST(DialogTexts, EveryLanguageShowsItsWholeTexts) {
    INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);
    for (const char *name : {"", "de.dll", "fr.dll", "es.dll", "it.dll"}) {
        HMODULE module = *name ? ::LoadLibraryA(name) : ::GetModuleHandleA(nullptr);
        ASSERT_NE(module, nullptr) << name;
        for (int dialogId : {IDD_MAIN, IDD_ABOUT, IDD_COMMAND_LINE}) {
            HWND dialog = ::CreateDialogParamA(module, MAKEINTRESOURCEA(dialogId), nullptr,
                                               quietProcedure, 0);
            ASSERT_NE(dialog, nullptr) << name << " " << dialogId;
            EXPECT_EQ(overflows(dialog), "")
                << (*name ? name : "salvora.exe") << " dialog " << dialogId;
            ::DestroyWindow(dialog);
        }
        if (*name)
            ::FreeLibrary(module);
    }
}

} // namespace
} // namespace salvora
