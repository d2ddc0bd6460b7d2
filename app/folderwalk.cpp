#include "app/folderwalk.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "engine/pathpattern.h"

namespace salvora {

namespace {

// `onTheWay` holds the folders from the top down to this one: a linked folder among them
// would lead round in a circle for ever.
void collectBelow(platform::Platform &os, const std::string &folder, const std::string &mask,
                  BatchFileList &list, std::vector<platform::FileIdentity> &onTheWay) {
    // One listing serves both passes: the subfolders need all names, the files the mask.
    std::vector<platform::DirectoryEntry> entries;
    if (platform::ErrorCode error = os.listDirectory(listingFolder(folder), "*", entries)) {
        list.appendUnreadableFolder(folder.empty() ? "." : folder, error);
        return;
    }
    std::optional<platform::FileIdentity> self = os.identity(listingFolder(folder));
    if (self)
        onTheWay.push_back(*self);
    for (const platform::DirectoryEntry &entry : entries) {
        if (!entry.isDirectory)
            continue;
        std::string path = entryPath(folder, entry.name);
        std::optional<platform::FileIdentity> identity = os.identity(path);
        if (identity && std::find(onTheWay.begin(), onTheWay.end(), *identity) != onTheWay.end())
            list.appendFolderLoop(path);
        else
            collectBelow(os, path, mask, list, onTheWay);
    }
    if (self)
        onTheWay.pop_back();
    for (const platform::DirectoryEntry &entry : entries)
        if (!entry.isDirectory && platform::wildcardMatch(mask, entry.name))
            list.append(entryPath(folder, entry.name), !entry.isSymlink);
}

} // namespace

void collectFiles(platform::Platform &os, const std::string &folder, const std::string &mask,
                  BatchFileList &list) {
    std::vector<platform::FileIdentity> onTheWay;
    collectBelow(os, folder, mask, list, onTheWay);
}

} // namespace salvora
