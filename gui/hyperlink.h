// Static text controls that act as links: dark blue underlined text, the hand cursor, and a click
// that hands the target named by the window text to the shell.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace salvora::gui {

using LinkOpener = std::function<void(HWND control, const std::string &target)>;

struct HyperlinkSetup {
    // The hand cursor comes from the interface language's module.
    HINSTANCE languageModule = nullptr;
    LinkOpener open;
};

// The shell's "open" on the target, owned by the control.
void openWithShell(HWND control, const std::string &target);

// Turns a static control into a link. `setup` must outlive the control.
void attachHyperlink(HWND control, const HyperlinkSetup &setup);

} // namespace salvora::gui
