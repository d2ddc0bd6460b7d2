#include "engine/putinplace.h"

#include "engine/pairjournal.h"

namespace salvora {

namespace {

// A failed step is undone by the earlier steps backwards; should that fail too, the journal
// stays and the next run goes forward from wherever the files stand.
Placement keepAndPutInPlace(platform::Platform &os, const FinishedFile &table,
                            const std::optional<FinishedFile> &memo, const KeptNames &kept) {
    PairJournal journal{table.finished, table.target, {}, {}, {}, kept.table, kept.memo};
    if (memo) {
        journal.memoFinished = memo->finished;
        journal.memoTarget = memo->target;
    }
    if (platform::ErrorCode error = writeJournal(os, journal); error != 0)
        return {error};
    const std::string journalFile = journalPath(table.target);
    std::vector<Rename> steps = keepingSteps({journal.tableFinished, journal.tableTarget,
                                              journal.memoFinished, journal.memoTarget, kept});
    for (std::size_t step = 0; step < steps.size(); ++step) {
        platform::ErrorCode error = os.renameFile(steps[step].from, steps[step].to);
        if (error == 0)
            continue;
        while (step-- > 0) {
            if (os.renameFile(steps[step].to, steps[step].from) != 0)
                return {error, true};
        }
        os.removeFile(journalFile);
        return {error};
    }
    os.removeFile(journalFile);
    return {};
}

} // namespace

Placement putInPlace(platform::Platform &os, const FinishedFile &table,
                     const std::optional<FinishedFile> &memo, KeptNames *keep) {
    if (keep && os.getAttributes(table.target)) {
        // The backups, and the new memo, take the letter case the user's files have.
        std::optional<FinishedFile> spelledMemo = memo;
        std::string oldMemo;
        if (memo && os.getAttributes(memo->target))
            spelledMemo->target = oldMemo = spelledOnDisk(os, memo->target);
        std::optional<KeptNames> names =
            chooseKeptNames(os, spelledOnDisk(os, table.target), oldMemo);
        if (!names)
            return {platform::errorInvalidArgument()};
        *keep = *names;
        return keepAndPutInPlace(os, table, spelledMemo, *names);
    }
    if (!memo)
        return {os.renameFile(table.finished, table.target)};

    // The old memo is copied aside, not moved: its name never stands empty, and the copy is
    // what puts it back should the table fail to follow.
    std::optional<platform::FileAttributes> oldAttributes = os.getAttributes(memo->target);
    PairJournal journal{table.finished, table.target, memo->finished, memo->target, {}, {}, {}};
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
