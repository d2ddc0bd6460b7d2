#include "app/outcometext.h"

namespace salvora {

std::string outcomeText(platform::Platform &os, const RecoveryOutcome &outcome,
                        OutcomeWording wording, const OutcomeWords &words) {
    if (outcome.result == recoveryFixed)
        return words.ok;
    bool nameTooLong = outcome.systemError == platform::errorNameTooLong();
    switch (wording) {
    case OutcomeWording::ResultLog:
        if (!outcome.failure.empty())
            return "Failed: " + outcome.failure;
        break;
    case OutcomeWording::BatchLog:
        if (nameTooLong)
            return "Skipped: " + os.errorText(outcome.systemError);
        if (!outcome.failure.empty())
            return "Failed: " + outcome.failure;
        break;
    case OutcomeWording::Window:
        // A name too long for the system was never worked on, whichever name it was.
        if (nameTooLong)
            return os.errorText(outcome.systemError);
        // A run that failed without a system error (an unknown table type) has no message of
        // the system's to show; "The operation completed successfully" would mislead.
        if (outcome.result != recoveryNothingProduced && outcome.systemError != 0)
            return os.errorText(outcome.systemError);
        break;
    }
    return words.unrecoverable;
}

} // namespace salvora
