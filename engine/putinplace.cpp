#include "engine/putinplace.h"

#include "engine/pairjournal.h"

namespace salvora {

Placement putInPlace(platform::Platform &os, const FinishedFile &table,
                     const std::optional<FinishedFile> &memo) {
    if (!memo)
        return {os.renameFile(table.finished, table.target)};

    // The old memo is copied aside, not moved: its name never stands empty, and the copy is
    // what puts it back should the table fail to follow.
    std::optional<platform::FileAttributes> oldAttributes = os.getAttributes(memo->target);
    PairJournal journal{table.finished, table.target, memo->finished, memo->target, {}};
    if (oldAttributes) {
        journal.savedMemo = savedMemoPath(memo->target);
        // Without a journal nothing was renamed: a saved copy is a dead run's leftover.
        os.removeFile(journal.savedMemo);
        if (platform::ErrorCode error = os.copyFile(memo->target, journal.savedMemo); error != 0) {
            os.removeFile(journal.savedMemo);
            return {error};
        }
    }
    auto dropSaved = [&] {
        if (!journal.savedMemo.empty())
            os.removeFile(journal.savedMemo);
    };
    if (platform::ErrorCode error = writeJournal(os, journal); error != 0) {
        dropSaved();
        return {error};
    }
    const std::string journalFile = journalPath(table.target);
    // Windows refuses to rename a file over a read-only one.
    if (oldAttributes && oldAttributes->readOnly)
        os.setReadOnly(memo->target, false);
    platform::ErrorCode error = os.renameFile(memo->finished, memo->target);
    if (error != 0) {
        if (oldAttributes)
            os.setAttributes(memo->target, *oldAttributes);
        dropSaved();
        os.removeFile(journalFile);
        return {error};
    }
    error = os.renameFile(table.finished, table.target);
    if (error != 0) {
        // The new memo goes back to its finished name first: until the old one is back, a
        // crash leaves both finished files, which the next run puts in place together. An undo
        // that fails halfway leaves the same to the next run: the journal and both finished
        // files (the memo's under one of its names), never the old table with the new memo.
        if (os.renameFile(memo->target, memo->finished) != 0)
            return {error, true};
        if (oldAttributes) {
            if (os.renameFile(journal.savedMemo, memo->target) != 0)
                return {error, true};
            os.setAttributes(memo->target, *oldAttributes);
        }
        os.removeFile(journalFile);
        return {error};
    }
    if (oldAttributes)
        os.setAttributes(memo->target, *oldAttributes);
    dropSaved();
    os.removeFile(journalFile);
    return {};
}

} // namespace salvora
