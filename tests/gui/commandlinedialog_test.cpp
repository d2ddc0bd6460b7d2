// The Command Line dialog created modeless and driven with messages.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "gui/commandlinedialog.h"
#include "resources/resource.h"
#include "tests/gui/guisupport.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

constexpr char command[] =
    "\"C:\\Program Files\\Salvora\\salvora.exe\" \"C:\\My Data\\*.dbf\" /pack";

class CommandLineDialogTest : public ::testing::Test {
  protected:
    HWND open(const std::optional<std::string> &text) {
        gui::CommandLineDialogHooks hooks;
        hooks.chooseBatchFile = [this](HWND) {
            ++asked;
            return chosen;
        };
        hooks.informationBox = [this](HWND, const std::string &text, const std::string &caption) {
            boxes.push_back(caption + ": " + text);
        };
        dialog = gui::createCommandLineDialog(nullptr, ::GetModuleHandleA(nullptr),
                                              platform::nativePlatform(), text, hooks);
        EXPECT_NE(dialog, nullptr);
        ::ShowWindow(dialog, SW_SHOW);
        testing::pump();
        return dialog;
    }

    void click(int id) {
        ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, id)));
    }

    std::string saved(const std::string &name) {
        testing::Bytes bytes = testing::readFile(dir.file(name));
        return std::string(bytes.begin(), bytes.end());
    }

    void TearDown() override {
        if (::IsWindow(dialog))
            ::DestroyWindow(dialog);
    }

    HWND dialog = nullptr;
    int asked = 0;
    std::optional<std::string> chosen;
    std::vector<std::string> boxes;
    testing::TempDir dir;
};

TEST_F(CommandLineDialogTest, ShowsTheCommandAndFocusesSave) {
    open(command);
    EXPECT_EQ(testing::itemText(dialog, IDC_COMMAND_TEXT), command);
    char caption[64] = {};
    ::GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "Command Line");
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDC_SAVE_BAT));
    click(IDCANCEL);
    EXPECT_FALSE(::IsWindow(dialog));
}

TEST_F(CommandLineDialogTest, SavesExactlyTheTextUnderABatName) {
    open(command);
    chosen = testing::windowsPath(dir.file("run"));
    click(IDC_SAVE_BAT);
    EXPECT_EQ(saved("run.bat"), command);
    // The dialog stays open; a name that ends in .bat in any case is kept.
    ASSERT_TRUE(::IsWindow(dialog));
    chosen = testing::windowsPath(dir.file("again.BAT"));
    click(IDC_SAVE_BAT);
    EXPECT_EQ(saved("again.BAT"), command);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"again.BAT", "run.bat"}));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CommandLineDialogTest, CancelledSaveWritesNothing) {
    open(command);
    click(IDC_SAVE_BAT);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(dir.names().empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CommandLineDialogTest, AFileThatCannotBeCreatedShowsTheSystemsReason) {
    open(command);
    chosen = testing::windowsPath(dir.file("missing/run"));
    click(IDC_SAVE_BAT);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "Salvora: " + platform::nativePlatform().errorText(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(dir.names().empty());
}

TEST_F(CommandLineDialogTest, ACommandTooLongToShowCannotBeSaved) {
    open(std::nullopt);
    EXPECT_EQ(testing::itemText(dialog, IDC_COMMAND_TEXT), gui::commandLineTooLong);
    EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, IDC_SAVE_BAT)));
    click(IDC_SAVE_BAT);
    EXPECT_EQ(asked, 0);
}

} // namespace
} // namespace salvora
