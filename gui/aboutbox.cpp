#include "gui/aboutbox.h"

#include "resources/resource.h"
#include "version.h"

#include <string>

namespace salvora::gui {

namespace {

constexpr LPARAM modal = 1;

INT_PTR CALLBACK aboutProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        ::SetWindowLongPtrA(box, DWLP_USER, lParam);
        // The icon is the program's own, whatever module the dialog came from.
        HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), "ICON1");
        ::SendDlgItemMessageA(box, IDC_ABOUT_ICON, STM_SETIMAGE, IMAGE_ICON,
                              reinterpret_cast<LPARAM>(icon));
        std::string name = std::string("Salvora v") + programVersion;
        ::SetDlgItemTextA(box, IDC_ABOUT_NAME, name.c_str());
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            if (::GetWindowLongPtrA(box, DWLP_USER) == modal)
                ::EndDialog(box, LOWORD(wParam));
            else
                ::DestroyWindow(box);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        ::SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void showAboutBox(HWND owner, HINSTANCE resources) {
    ::DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProcedure, modal);
}

HWND createAboutBox(HWND owner, HINSTANCE resources) {
    return ::CreateDialogParamA(resources, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProcedure, 0);
}

} // namespace salvora::gui
