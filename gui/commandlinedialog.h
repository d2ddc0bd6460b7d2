// The Command Line dialog (dialog 11): shows the command that performs the window's task and
// saves it as a batch file.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace salvora::gui {

// What the dialog asks of the user outside its own controls; tests put stand-ins here.
struct CommandLineDialogHooks {
    // The name to save under, or nothing when the user cancelled.
    std::function<std::optional<std::string>(HWND owner)> chooseBatchFile;
    std::function<void(HWND owner, const std::string &text, const std::string &caption)>
        informationBox;

    static CommandLineDialogHooks system();
};

// Shown instead of a command that does not fit; saving is then disabled.
inline constexpr char commandLineTooLong[] =
    "The command line is too long to show: choose shorter names.";

// Modal. `text` is the command, or nothing when it was too long.
void showCommandLineDialog(HWND owner, HINSTANCE resources, platform::Platform &os,
                           const std::optional<std::string> &text,
                           CommandLineDialogHooks hooks = CommandLineDialogHooks::system());

// The same dialog without a modal loop, for tests; it destroys itself when closed.
HWND createCommandLineDialog(HWND owner, HINSTANCE resources, platform::Platform &os,
                             const std::optional<std::string> &text, CommandLineDialogHooks hooks);

} // namespace salvora::gui
