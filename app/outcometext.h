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

// The two words of the outcome that are the program's own; the window gives its language's.
struct OutcomeWords {
    std::string ok = "OK";
    std::string unrecoverable = "Unrecoverable";
};

std::string outcomeText(platform::Platform &os, const RecoveryOutcome &outcome,
                        OutcomeWording wording, const OutcomeWords &words = OutcomeWords{});

} // namespace salvora
