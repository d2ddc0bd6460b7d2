// The one wording of a run's outcome, for the command line's result logs, a batch's log and
// the main window's folder results.
#pragma once

#include <string>

#include "engine/recovery.h"

namespace salvora {

enum class OutcomeWording {
    // "OK" or "Unrecoverable".
    ResultLog,
    // As the result log, but a name the system cannot take was never looked at: "Skipped"
    // and the system's text.
    BatchLog,
    // The system's text wherever the system said why, "Unrecoverable" otherwise.
    Window,
};

std::string outcomeText(platform::Platform &os, const RecoveryOutcome &outcome,
                        OutcomeWording wording);

} // namespace salvora
