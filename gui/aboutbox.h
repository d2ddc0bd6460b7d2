// The About box (dialog 4): the program's icon, name and version, and its web and mail lines,
// which are links.
#pragma once

#include <windows.h>

#include "gui/hyperlink.h"

namespace salvora::gui {

// Modal; returns when OK is pressed or the box is closed.
void showAboutBox(HWND owner, HINSTANCE resources, LinkOpener open = openWithShell);

// The same box without a modal loop, for tests that drive it with messages. It destroys
// itself when closed.
HWND createAboutBox(HWND owner, HINSTANCE resources, LinkOpener open = openWithShell);

} // namespace salvora::gui
