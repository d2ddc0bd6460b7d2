#include "engine/keptoriginal.h"

#include <map>

namespace salvora {

namespace {

bool hasUpperAndNoLower(const std::string &text) {
    bool upper = false;
    for (char c : text) {
        if (c >= 'a' && c <= 'z')
            return false;
        upper = upper || (c >= 'A' && c <= 'Z');
    }
    return upper;
}

bool exists(platform::Platform &os, const std::string &path) {
    return os.getAttributes(path).has_value();
}

// Enough for any folder a person keeps; past it the run refuses rather than overwrite.
constexpr int mostBackups = 999;

} // namespace

std::string keptName(const std::string &path, int number) {
    std::size_t nameStart = platform::fileNameStart(path);
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot <= nameStart)
        dot = path.size();
    std::string extension = path.substr(dot);
    std::string mark = hasUpperAndNoLower(extension) ? ".BAK" : ".bak";
    if (number > 1)
        mark += std::to_string(number);
    return path.substr(0, dot) + mark + extension;
}

std::string spelledOnDisk(platform::Platform &os, const std::string &path) {
    std::size_t nameStart = platform::fileNameStart(path);
    std::string name = path.substr(nameStart);
    std::vector<platform::DirectoryEntry> entries;
    if (name.find_first_of("*?") != std::string::npos ||
        os.listDirectory(platform::folderOf(path), name, entries) != 0)
        return path;
    std::string found;
    for (const platform::DirectoryEntry &entry : entries) {
        if (entry.name == name)
            return path;
        if (found.empty() && !entry.isDirectory)
            found = entry.name;
    }
    return found.empty() ? path : path.substr(0, nameStart) + found;
}

std::optional<KeptNames> chooseKeptNames(platform::Platform &os, const std::string &tableTarget,
                                         const std::string &oldMemo) {
    for (int number = 1; number <= mostBackups; ++number) {
        KeptNames names{keptName(tableTarget, number),
                        oldMemo.empty() ? std::string() : keptName(oldMemo, number)};
        if (!exists(os, names.table) && (names.memo.empty() || !exists(os, names.memo)))
            return names;
    }
    return std::nullopt;
}

std::vector<Rename> keepingSteps(const KeepingPair &pair) {
    std::vector<Rename> steps;
    if (!pair.kept.memo.empty())
        steps.push_back({pair.memoTarget, pair.kept.memo});
    steps.push_back({pair.tableTarget, pair.kept.table});
    if (!pair.memoFinished.empty())
        steps.push_back({pair.memoFinished, pair.memoTarget});
    steps.push_back({pair.tableFinished, pair.tableTarget});
    return steps;
}

std::optional<std::size_t> keepingStepsDone(platform::Platform &os,
                                            const std::vector<Rename> &steps) {
    // Before the first step every source is there and every new name free; each step moves
    // one file. The point whose picture matches the disk is where the sequence stopped.
    std::map<std::string, bool> expected;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        expected[it->to] = false;
        expected[it->from] = true;
    }
    std::map<std::string, bool> actual;
    for (const auto &[path, there] : expected)
        actual[path] = exists(os, path);
    for (std::size_t done = 0;; ++done) {
        if (expected == actual)
            return done;
        if (done == steps.size())
            return std::nullopt;
        expected[steps[done].from] = false;
        expected[steps[done].to] = true;
    }
}

} // namespace salvora
