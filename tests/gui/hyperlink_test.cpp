// The About box's link lines, driven with messages; the shell is replaced by a recorder.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/addresses.h"
#include "gui/aboutbox.h"
#include "resources/resource.h"
#include "tests/gui/guisupport.h"

namespace salvora {
namespace {

constexpr COLORREF darkBlue = RGB(0, 0, 128);

class HyperlinkTest : public ::testing::Test {
  protected:
    void open(HINSTANCE module = ::GetModuleHandleA(nullptr)) {
        box = gui::createAboutBox(nullptr, module, [this](HWND control, const std::string &target) {
            owners.push_back(control);
            opened.push_back(target);
        });
        ASSERT_NE(box, nullptr);
        ::ShowWindow(box, SW_SHOW);
        testing::pump();
        web = ::GetDlgItem(box, IDC_ABOUT_WEB);
        mail = ::GetDlgItem(box, IDC_ABOUT_MAIL);
    }

    void TearDown() override {
        if (::IsWindow(box))
            ::DestroyWindow(box);
    }

    std::string clicked(HWND control, const std::string &text) {
        ::SetWindowTextA(control, text.c_str());
        opened.clear();
        ::SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        return opened.size() == 1 ? opened[0] : "<" + std::to_string(opened.size()) + " opened>";
    }

    // The control drawn onto white, pixel by pixel.
    std::vector<COLORREF> rendered(HWND control, const std::string &text) {
        ::SetWindowTextA(control, text.c_str());
        RECT area;
        ::GetClientRect(control, &area);
        HDC screen = ::GetDC(nullptr);
        HDC dc = ::CreateCompatibleDC(screen);
        HBITMAP bitmap = ::CreateCompatibleBitmap(screen, area.right, area.bottom);
        ::ReleaseDC(nullptr, screen);
        HGDIOBJ previous = ::SelectObject(dc, bitmap);
        ::FillRect(dc, &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        ::SendMessageA(control, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
        std::vector<COLORREF> pixels;
        for (int y = 0; y < area.bottom; ++y)
            for (int x = 0; x < area.right; ++x)
                pixels.push_back(::GetPixel(dc, x, y));
        ::SelectObject(dc, previous);
        ::DeleteObject(bitmap);
        ::DeleteDC(dc);
        return pixels;
    }

    HWND box = nullptr;
    HWND web = nullptr;
    HWND mail = nullptr;
    std::vector<HWND> owners;
    std::vector<std::string> opened;
};

TEST_F(HyperlinkTest, AboutLinesOpenTheProductPageAndTheSupportMail) {
    open();
    EXPECT_EQ(testing::itemText(box, IDC_ABOUT_WEB),
              std::string(productSiteName) + "#" + productAddress);
    EXPECT_EQ(testing::itemText(box, IDC_ABOUT_MAIL), supportMailAddress);
    ::SendMessageA(web, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ::SendMessageA(mail, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    EXPECT_EQ(opened, (std::vector<std::string>{productAddress,
                                                std::string("mailto:") + supportMailAddress}));
    EXPECT_EQ(owners, (std::vector<HWND>{web, mail}));
}

TEST_F(HyperlinkTest, TheWindowTextDecidesWhatOpens) {
    open();
    EXPECT_EQ(clicked(mail, "someone@example.org"), "mailto:someone@example.org");
    EXPECT_EQ(clicked(mail, "Write to us#someone@example.org"), "someone@example.org");
    EXPECT_EQ(clicked(mail, "https://example.org/"), "https://example.org/");
    std::string longText = "https://example.org/" + std::string(300, 'a');
    EXPECT_EQ(clicked(mail, longText), longText.substr(0, 179));
}

TEST_F(HyperlinkTest, ShowsTheHandCursorOfTheLanguageModule) {
    HMODULE german = ::LoadLibraryA("de.dll");
    ASSERT_NE(german, nullptr);
    open(german);
    EXPECT_EQ(::SendMessageA(web, WM_SETCURSOR, reinterpret_cast<WPARAM>(web),
                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(german, "CURSOR_HAND2"));
    ::SetCursor(nullptr);
    ::SendMessageA(mail, WM_MOUSEMOVE, 0, MAKELPARAM(1, 1));
    EXPECT_EQ(::GetCursor(), ::LoadCursorA(german, "CURSOR_HAND2"));
}

TEST_F(HyperlinkTest, PaintsOnlyTheLabelInDarkBlue) {
    open();
    std::vector<COLORREF> label = rendered(web, "Our web site");
    EXPECT_EQ(rendered(web, "Our web site#https://salvora.example/"), label);
    EXPECT_EQ(rendered(web, "Our web site#x@y"), label);
    EXPECT_NE(rendered(web, "Our web sites"), label) << "the drawing must follow the text";
    bool blue = false;
    bool other = false;
    for (COLORREF pixel : label) {
        blue = blue || pixel == darkBlue;
        other = other || (pixel != RGB(255, 255, 255) && GetBValue(pixel) < GetRValue(pixel));
    }
    EXPECT_TRUE(blue);
    EXPECT_FALSE(other);
}

// Letters without descenders leave gaps in every row of their own; only a line under them
// covers their whole width.
TEST_F(HyperlinkTest, TheLabelIsUnderlined) {
    open();
    RECT area;
    ::GetClientRect(web, &area);
    std::vector<COLORREF> pixels = rendered(web, "ooooo");
    const int width = area.right;
    int left = width, right = -1;
    for (std::size_t i = 0; i < pixels.size(); ++i)
        if (pixels[i] == darkBlue) {
            int x = static_cast<int>(i) % width;
            left = x < left ? x : left;
            right = x > right ? x : right;
        }
    ASSERT_GT(right, left + 10);
    bool underlined = false;
    for (int y = 0; y < area.bottom && !underlined; ++y) {
        bool whole = true;
        for (int x = left + 1; x < right && whole; ++x)
            whole = pixels[static_cast<std::size_t>(y * width + x)] == darkBlue;
        underlined = whole;
    }
    EXPECT_TRUE(underlined);
}

} // namespace
} // namespace salvora
