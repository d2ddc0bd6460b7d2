// The main window's choices that outlive the program: "Check only" ("CHECKONLY", a number)
// and the report file of "Write report..." ("REPORT", a text; empty for none).
#pragma once

#include "app/appcontext.h"

namespace salvora {

// Reads without writing: a value that is missing stays missing.
void loadWindowChoices(AppContext &app);
void saveWindowChoices(AppContext &app);

} // namespace salvora
