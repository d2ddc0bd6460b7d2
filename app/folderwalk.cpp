#include "app/folderwalk.h"

#include <algorithm>
#include <utility>

#include "engine/pathpattern.h"

namespace salvora {

FolderWalk::FolderWalk(platform::Platform &os, std::string folder, std::string mask)
    : os_(os), top_(std::move(folder)), mask_(std::move(mask)) {}

std::optional<BatchFileItem> FolderWalk::enter(const std::string &folder) {
    // One listing serves both passes: the subfolders need all names, the files the mask.
    Level level;
    level.folder = folder;
    if (platform::ErrorCode error = os_.listDirectory(listingFolder(folder), "*", level.entries))
        return BatchFileItem{folder.empty() ? "." : folder, error, false};
    if (std::optional<platform::FileIdentity> self = os_.identity(listingFolder(folder))) {
        onTheWay_.push_back(*self);
        level.onTheWay = true;
    }
    levels_.push_back(std::move(level));
    return std::nullopt;
}

std::optional<BatchFileItem> FolderWalk::next() {
    if (!started_) {
        started_ = true;
        if (std::optional<BatchFileItem> unreadable = enter(top_))
            return unreadable;
    }
    while (!levels_.empty()) {
        Level &level = levels_.back();
        if (level.inSubfolders) {
            if (level.position < level.entries.size()) {
                const platform::DirectoryEntry &entry = level.entries[level.position++];
                if (!entry.isDirectory)
                    continue;
                std::string path = entryPath(level.folder, entry.name);
                std::optional<platform::FileIdentity> identity = os_.identity(path);
                if (identity &&
                    std::find(onTheWay_.begin(), onTheWay_.end(), *identity) != onTheWay_.end())
                    return BatchFileItem{path, 0, true};
                if (std::optional<BatchFileItem> unreadable = enter(path))
                    return unreadable;
                continue;
            }
            level.inSubfolders = false;
            level.position = 0;
            if (level.onTheWay)
                onTheWay_.pop_back();
        }
        while (level.position < level.entries.size()) {
            const platform::DirectoryEntry &entry = level.entries[level.position++];
            if (!entry.isDirectory && platform::wildcardMatch(mask_, entry.name))
                return BatchFileItem{entryPath(level.folder, entry.name), 0, false};
        }
        levels_.pop_back();
    }
    return std::nullopt;
}

void collectFiles(platform::Platform &os, const std::string &folder, const std::string &mask,
                  BatchFileList &list) {
    FolderWalk walk(os, folder, mask);
    while (std::optional<BatchFileItem> item = walk.next())
        list.append(std::move(*item));
}

} // namespace salvora
