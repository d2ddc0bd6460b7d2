// Window mode's entry: shows the main window once, as a modal dialog, and returns its result.
// Kept free of system headers so that the entry point can install it.
#pragma once

#include "app/appcontext.h"

namespace salvora::gui {

int showMainWindow(AppContext &app);

} // namespace salvora::gui
