#include "engine/pairjournal.h"

#include <vector>

#include "engine/keptoriginal.h"
#include "engine/worknames.h"

namespace salvora {

namespace {

constexpr const char *journalMagic = "salvora pair journal 1\n";
// The same with the names the old files were kept under.
constexpr const char *keepingMagic = "salvora pair journal 2\n";
constexpr const char *journalEnd = "end\n";
// Generous for five paths; a larger file is not one of ours.
constexpr std::size_t journalLimit = 64 * 1024;

// Each path as its length and its bytes, so that any character a name may hold survives.
void putEntry(std::string &text, const std::string &path) {
    text += std::to_string(path.size()) + ":" + path + "\n";
}

enum class Parsed { Complete, Cut, Damaged };

// Cut: the text stops early, as a journal whose writing was interrupted does.
Parsed takeEntry(const std::string &text, std::size_t &at, std::string &path) {
    std::size_t length = 0;
    std::size_t i = at;
    for (; i < text.size() && text[i] != ':'; ++i) {
        if (text[i] < '0' || text[i] > '9' || i - at >= 6)
            return Parsed::Damaged;
        length = length * 10 + static_cast<std::size_t>(text[i] - '0');
    }
    if (i == text.size())
        return Parsed::Cut;
    if (i == at)
        return Parsed::Damaged;
    if (i + 1 + length >= text.size())
        return Parsed::Cut;
    if (text[i + 1 + length] != '\n')
        return Parsed::Damaged;
    path = text.substr(i + 1, length);
    at = i + 2 + length;
    return Parsed::Complete;
}

Parsed parse(std::string text, PairJournal &journal) {
    // Blocks the system allotted but never wrote read as zeros.
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    std::string magic = journalMagic;
    std::string keeping = keepingMagic;
    if (text.size() < magic.size())
        return magic.compare(0, text.size(), text) == 0 ||
                       keeping.compare(0, text.size(), text) == 0
                   ? Parsed::Cut
                   : Parsed::Damaged;
    bool keeps = text.compare(0, keeping.size(), keeping) == 0;
    if (!keeps && text.compare(0, magic.size(), magic) != 0)
        return Parsed::Damaged;
    std::size_t at = magic.size();
    std::vector<std::string *> paths = {&journal.tableFinished, &journal.tableTarget,
                                        &journal.memoFinished, &journal.memoTarget,
                                        &journal.savedMemo};
    if (keeps)
        paths.insert(paths.end(), {&journal.tableKept, &journal.memoKept});
    for (std::string *path : paths)
        if (Parsed step = takeEntry(text, at, *path); step != Parsed::Complete)
            return step;
    std::string end = journalEnd;
    std::string rest = text.substr(at);
    if (rest.size() < end.size() && end.compare(0, rest.size(), rest) == 0)
        return Parsed::Cut;
    if (rest != end || journal.tableFinished.empty() || journal.tableTarget.empty())
        return Parsed::Damaged;
    bool memoNamed = !journal.memoFinished.empty() && !journal.memoTarget.empty();
    if (!keeps)
        return memoNamed ? Parsed::Complete : Parsed::Damaged;
    bool memoConsistent = journal.memoFinished.empty()
                              ? journal.memoKept.empty() || !journal.memoTarget.empty()
                              : memoNamed;
    return !journal.tableKept.empty() && memoConsistent ? Parsed::Complete : Parsed::Damaged;
}

enum class ReadJournal { Absent, Read, Unreadable };

ReadJournal readJournal(platform::Platform &os, const std::string &path, std::string &text) {
    platform::OpenResult opened =
        os.openFile(path, {platform::Access::Read, platform::Share::Read,
                           platform::Disposition::OpenExisting, false, false});
    // A name too long to exist has no journal either.
    if (!opened)
        return opened.error == platform::errorFileNotFound() ||
                       opened.error == platform::errorNameTooLong() || !os.getAttributes(path)
                   ? ReadJournal::Absent
                   : ReadJournal::Unreadable;
    std::vector<char> buffer(journalLimit + 1);
    platform::IoResult got = opened.file->read(buffer.data(), buffer.size());
    if (!got.ok() || got.bytes > journalLimit)
        return ReadJournal::Unreadable;
    text.assign(buffer.data(), got.bytes);
    return ReadJournal::Read;
}

bool exists(platform::Platform &os, const std::string &path) {
    return os.getAttributes(path).has_value();
}

} // namespace

namespace {

// A name too long for the system takes the work files' short form.
std::string besideTarget(const std::string &target, const char *suffix) {
    constexpr std::size_t longestName = 255;
    std::string name = workFilePrefix(target) + suffix;
    if (name.size() > longestName)
        name = shortWorkFilePrefix(target) + suffix;
    return platform::joinPath(platform::folderOf(target), name);
}

// Goes on from where the renames that keep the old pair stopped: they only ever go forward,
// since undoing the first steps is the same sequence read backwards.
JournalOutcome settleKeeping(platform::Platform &os, const PairJournal &j, const std::string &path,
                             bool look) {
    std::vector<Rename> steps = keepingSteps(
        {j.tableFinished, j.tableTarget, j.memoFinished, j.memoTarget, {j.tableKept, j.memoKept}});
    std::optional<std::size_t> done = keepingStepsDone(os, steps);
    if (!done)
        return {JournalState::Missing,
                path + ": the files of an unfinished replacement are missing, left alone"};
    if (look)
        return {JournalState::Unfinished,
                j.tableTarget + ": an unfinished replacement of the table and its memo file"};
    platform::ErrorCode error = 0;
    for (std::size_t step = *done; step < steps.size() && error == 0; ++step)
        error = os.renameFile(steps[step].from, steps[step].to);
    if (error == 0)
        error = os.removeFile(path);
    if (error != 0)
        return {JournalState::Damaged,
                path + ": an unfinished replacement could not be settled: " + os.errorText(error)};
    return {JournalState::Settled, j.tableTarget +
                                       ": an interrupted repair was completed, the "
                                       "old table kept as " +
                                       j.tableKept};
}

} // namespace

std::string journalPath(const std::string &tableTarget) {
    return besideTarget(tableTarget, "jrnl");
}

std::string savedMemoPath(const std::string &memoTarget) {
    return besideTarget(memoTarget, "saved");
}

platform::ErrorCode writeJournal(platform::Platform &os, const PairJournal &journal) {
    bool keeps = !journal.tableKept.empty();
    std::string text = keeps ? keepingMagic : journalMagic;
    for (const std::string *path : {&journal.tableFinished, &journal.tableTarget,
                                    &journal.memoFinished, &journal.memoTarget, &journal.savedMemo})
        putEntry(text, *path);
    if (keeps) {
        putEntry(text, journal.tableKept);
        putEntry(text, journal.memoKept);
    }
    text += journalEnd;
    std::string path = journalPath(journal.tableTarget);
    platform::OpenResult created =
        os.openFile(path, {platform::Access::ReadWrite, platform::Share::None,
                           platform::Disposition::CreateNew, false, false});
    if (!created)
        return created.error;
    platform::IoResult put = created.file->write(text.data(), text.size());
    platform::ErrorCode error = put.ok() ? created.file->flush() : put.error;
    created.file.reset();
    if (error != 0)
        os.removeFile(path);
    return error;
}

JournalOutcome settleJournal(platform::Platform &os, const std::string &tableTarget, bool look) {
    const std::string path = journalPath(tableTarget);
    std::string text;
    ReadJournal read = readJournal(os, path, text);
    if (read == ReadJournal::Absent)
        return {};
    PairJournal j;
    Parsed parsed = read == ReadJournal::Read ? parse(text, j) : Parsed::Damaged;
    if (parsed == Parsed::Cut) {
        // Written in full and flushed before the first rename: a cut one renamed nothing.
        if (look)
            return {JournalState::Unfinished, path + ": an interrupted repair's journal"};
        if (platform::ErrorCode error = os.removeFile(path); error != 0)
            return {JournalState::Damaged, path + ": " + os.errorText(error)};
        return {JournalState::Settled,
                tableTarget + ": an interrupted repair had changed nothing, the old files kept"};
    }
    if (parsed == Parsed::Damaged || j.tableTarget != tableTarget)
        return {JournalState::Damaged,
                path + ": damaged journal of an unfinished replacement, left alone"};
    if (!j.tableKept.empty())
        return settleKeeping(os, j, path, look);

    bool tableWaits = exists(os, j.tableFinished);
    bool memoWaits = exists(os, j.memoFinished);
    bool tableThere = tableWaits || exists(os, j.tableTarget);
    bool memoThere = memoWaits || exists(os, j.memoTarget);
    // The memo moves first: a finished table without its memo's move cannot be ours.
    bool forward = tableWaits || !memoWaits;
    if (!tableThere || !memoThere || (!forward && !exists(os, j.tableTarget)))
        return {JournalState::Missing,
                path + ": the files of an unfinished replacement are missing, left alone"};
    if (look)
        return {JournalState::Unfinished,
                tableTarget + ": an unfinished replacement of the table and its memo file"};

    platform::ErrorCode error = 0;
    if (forward) {
        if (memoWaits)
            error = os.renameFile(j.memoFinished, j.memoTarget);
        if (error == 0 && tableWaits)
            error = os.renameFile(j.tableFinished, j.tableTarget);
    } else {
        error = os.removeFile(j.memoFinished);
    }
    if (error == 0 && !j.savedMemo.empty() && exists(os, j.savedMemo))
        error = os.removeFile(j.savedMemo);
    if (error == 0)
        error = os.removeFile(path);
    if (error != 0)
        return {JournalState::Damaged,
                path + ": an unfinished replacement could not be settled: " + os.errorText(error)};
    return {JournalState::Settled,
            forward ? tableTarget + ": an interrupted repair was completed"
                    : tableTarget + ": an interrupted repair was undone, the old files kept"};
}

} // namespace salvora
