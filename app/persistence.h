// The remembered state in the settings store: the last folder and the history, loaded at
// start-up and written at the end of window mode.
#pragma once

#include "app/appcontext.h"

namespace salvora {

// "PATH", "RECENTS" (at most 20 pairs are taken) and the pairs "SRC%d"/"DST%d"; the history
// then switches to front insertion.
void loadRemembered(AppContext &app);

// Empties every stored pair and the history; "RECENTS" follows at the end of window mode.
void clearRememberedHistory(AppContext &app);

// The main window's "Keep the original" ("KEEPORIGINAL", on unless the user turned it off).
void loadWindowOptions(AppContext &app);
void saveWindowOptions(AppContext &app);

// Writes the pairs when `historyChanged`, then "RECENTS", "PATH" and "LANG". Returns the
// status of the last write, 0 when it succeeded.
int saveRemembered(AppContext &app, bool historyChanged);

} // namespace salvora
