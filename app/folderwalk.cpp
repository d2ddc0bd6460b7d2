#include "app/folderwalk.h"

#include <vector>

#include "engine/pathpattern.h"

namespace salvora {

void collectFiles(platform::Platform &os, const std::string &folder, const std::string &mask,
                  BatchFileList &list) {
    // One listing serves both passes: the subfolders need all names, the files the mask.
    std::vector<platform::DirectoryEntry> entries;
    if (platform::ErrorCode error = os.listDirectory(listingFolder(folder), "*", entries)) {
        list.appendUnreadableFolder(folder.empty() ? "." : folder, error);
        return;
    }
    for (const platform::DirectoryEntry &entry : entries)
        if (entry.isDirectory && !entry.isSymlink)
            collectFiles(os, entryPath(folder, entry.name), mask, list);
    for (const platform::DirectoryEntry &entry : entries)
        if (!entry.isDirectory && platform::wildcardMatch(mask, entry.name))
            list.append(entryPath(folder, entry.name));
}

} // namespace salvora
