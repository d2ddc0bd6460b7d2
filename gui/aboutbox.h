// The About box (dialog 4): the program's icon, name and version, and its web and mail lines.
#pragma once

#include <windows.h>

namespace salvora::gui {

// Modal; returns when OK is pressed or the box is closed.
void showAboutBox(HWND owner, HINSTANCE resources);

// The same box without a modal loop, for tests that drive it with messages. It destroys
// itself when closed.
HWND createAboutBox(HWND owner, HINSTANCE resources);

} // namespace salvora::gui
