// Keeping the files a repair replaces: the old table and memo move to backup names, then the
// finished pair takes their place. The renames run in one fixed order, so that the journal
// tells from the files alone how far a crash let them go.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace salvora {

// "NAME.bak.dbf" for the first backup of "NAME.dbf", then "NAME.bak2.dbf", "NAME.bak3.dbf"...
// The extension keeps its spelling; "bak" is upper case when the extension is.
std::string keptName(const std::string &path, int number);

struct KeptNames {
    std::string table;
    std::string memo; // empty when there is no old memo to keep
};

// `path` with its file name as the folder spells it, where the system ignores letter case; as
// given when that name itself is there or nothing else matches.
std::string spelledOnDisk(platform::Platform &os, const std::string &path);

// The first number whose table and memo names are both free; nothing when all are taken.
std::optional<KeptNames> chooseKeptNames(platform::Platform &os, const std::string &tableTarget,
                                         const std::string &oldMemo);

struct Rename {
    std::string from;
    std::string to;
};

struct KeepingPair {
    std::string tableFinished;
    std::string tableTarget;
    std::string memoFinished; // empty when the result has no memo
    std::string memoTarget;
    KeptNames kept;
};

// Old memo aside, old table aside, new memo in, new table in.
std::vector<Rename> keepingSteps(const KeepingPair &pair);

// How many of the steps the files on disk show as done; nothing when they fit no point of
// the sequence (files gone or added by someone else).
std::optional<std::size_t> keepingStepsDone(platform::Platform &os,
                                            const std::vector<Rename> &steps);

} // namespace salvora
