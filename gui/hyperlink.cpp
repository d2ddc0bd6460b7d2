#include "gui/hyperlink.h"

#include <shellapi.h>

#include "app/linktext.h"

namespace salvora::gui {

namespace {

constexpr char setupProperty[] = "SalvoraHyperlink";
constexpr COLORREF linkColour = RGB(0, 0, 128);

std::string windowText(HWND control) {
    char text[linkTextBuffer] = {};
    ::GetWindowTextA(control, text, sizeof text);
    return text;
}

const HyperlinkSetup *setupOf(HWND control) {
    return static_cast<const HyperlinkSetup *>(::GetPropA(control, setupProperty));
}

// The dialog's font, underlined as links are; the system's font when the dialog has none.
HFONT underlinedFont(HWND control) {
    auto font = reinterpret_cast<HFONT>(::SendMessageA(::GetParent(control), WM_GETFONT, 0, 0));
    LOGFONTA description{};
    if (font == nullptr || ::GetObjectA(font, sizeof description, &description) == 0)
        ::GetObjectA(::GetStockObject(DEFAULT_GUI_FONT), sizeof description, &description);
    description.lfUnderline = TRUE;
    return ::CreateFontIndirectA(&description);
}

void draw(HWND control, HDC dc) {
    std::string label = linkLabel(windowText(control));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, linkColour);
    HFONT font = underlinedFont(control);
    HGDIOBJ previous = font != nullptr ? ::SelectObject(dc, font) : nullptr;
    ::TextOutA(dc, 0, 0, label.c_str(), static_cast<int>(label.size()));
    if (previous != nullptr)
        ::SelectObject(dc, previous);
    if (font != nullptr)
        ::DeleteObject(font);
}

void showHand(HWND control) {
    const HyperlinkSetup *setup = setupOf(control);
    HCURSOR hand =
        setup != nullptr ? ::LoadCursorA(setup->languageModule, "CURSOR_HAND2") : nullptr;
    // A language module without the cursor still gets a pointing hand.
    if (hand == nullptr)
        hand = ::LoadCursorA(nullptr, IDC_HAND);
    ::SetCursor(hand);
}

LRESULT CALLBACK hyperlinkProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(control, &paint);
        draw(control, dc);
        ::EndPaint(control, &paint);
        return 0;
    }
    case WM_PRINTCLIENT:
        draw(control, reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_SETCURSOR:
    case WM_MOUSEMOVE:
        showHand(control);
        return TRUE;
    case WM_LBUTTONDOWN:
        if (const HyperlinkSetup *setup = setupOf(control); setup != nullptr && setup->open)
            setup->open(control, linkTarget(windowText(control)));
        return 0;
    case WM_NCDESTROY:
        ::RemovePropA(control, setupProperty);
        break;
    default:
        break;
    }
    return ::DefWindowProcA(control, message, wParam, lParam);
}

} // namespace

void openWithShell(HWND control, const std::string &target) {
    ::ShellExecuteA(control, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void attachHyperlink(HWND control, const HyperlinkSetup &setup) {
    if (control == nullptr)
        return;
    ::SetPropA(control, setupProperty, const_cast<HyperlinkSetup *>(&setup));
    ::SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(hyperlinkProcedure));
}

} // namespace salvora::gui
