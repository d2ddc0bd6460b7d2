// Puts a finished table, and its memo file when it has one, in place of the old ones.
#pragma once

#include <optional>
#include <string>

#include "engine/keptoriginal.h"
#include "platform/platform.h"

namespace salvora {

struct FinishedFile {
    std::string finished; // complete, flushed file beside `target`
    std::string target;
};

struct Placement {
    // 0, or the error of the step that failed.
    platform::ErrorCode error = 0;
    // The failure could not be undone: the journal stays with the finished files it names,
    // which the caller must keep, so that the next run completes the pair.
    bool leftToNextRun = false;
};

// Each file is renamed over its target, the memo first and the table last. With a memo, a copy
// of the old one is kept and a journal written before the first rename, so that a failure puts
// everything back and a crash leaves what the next run needs to make the pair whole.
// With `keep`, old files at the targets are not replaced but renamed to the first free backup
// names, written to `keep` (its table stays empty when there was no old table).
Placement putInPlace(platform::Platform &os, const FinishedFile &table,
                     const std::optional<FinishedFile> &memo, KeptNames *keep = nullptr);

} // namespace salvora
