#include "gui/aboutbox.h"

#include <memory>
#include <string>

#include "app/addresses.h"
#include "resources/resource.h"
#include "version.h"

namespace salvora::gui {

namespace {

struct AboutBox {
    bool modal = false;
    // The links point here while the box lives.
    HyperlinkSetup links;
};

AboutBox *boxOf(HWND box) {
    return reinterpret_cast<AboutBox *>(::GetWindowLongPtrA(box, DWLP_USER));
}

void initialise(HWND box, AboutBox &about) {
    // The icon is the program's own, whatever module the dialog came from.
    HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), "ICON1");
    ::SendDlgItemMessageA(box, IDC_ABOUT_ICON, STM_SETIMAGE, IMAGE_ICON,
                          reinterpret_cast<LPARAM>(icon));
    std::string name = std::string("Salvora v") + programVersion;
    ::SetDlgItemTextA(box, IDC_ABOUT_NAME, name.c_str());
    // The addresses live in one place; every language module shows the same ones.
    std::string web = std::string(productSiteName) + "#" + productAddress;
    ::SetDlgItemTextA(box, IDC_ABOUT_WEB, web.c_str());
    ::SetDlgItemTextA(box, IDC_ABOUT_MAIL, supportMailAddress);
    attachHyperlink(::GetDlgItem(box, IDC_ABOUT_WEB), about.links);
    attachHyperlink(::GetDlgItem(box, IDC_ABOUT_MAIL), about.links);
}

INT_PTR CALLBACK aboutProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        ::SetWindowLongPtrA(box, DWLP_USER, lParam);
        initialise(box, *reinterpret_cast<AboutBox *>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            if (AboutBox *about = boxOf(box); about != nullptr && about->modal)
                ::EndDialog(box, LOWORD(wParam));
            else
                ::DestroyWindow(box);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        ::SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    case WM_NCDESTROY:
        // A modeless box owns its state; the links are gone by now.
        if (AboutBox *about = boxOf(box); about != nullptr && !about->modal)
            delete about;
        ::SetWindowLongPtrA(box, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

void showAboutBox(HWND owner, HINSTANCE resources, LinkOpener open) {
    AboutBox about{true, {resources, std::move(open)}};
    ::DialogBoxParamA(resources, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProcedure,
                      reinterpret_cast<LPARAM>(&about));
}

HWND createAboutBox(HWND owner, HINSTANCE resources, LinkOpener open) {
    auto about = std::make_unique<AboutBox>(AboutBox{false, {resources, std::move(open)}});
    HWND box = ::CreateDialogParamA(resources, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProcedure,
                                    reinterpret_cast<LPARAM>(about.get()));
    if (box != nullptr)
        about.release(); // freed when the box is destroyed
    return box;
}

} // namespace salvora::gui
