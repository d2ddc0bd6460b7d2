#include "engine/worknames.h"

#include <vector>

#include "engine/textformat.h"

namespace salvora {

std::string workFilePrefix(const std::string &target) {
    return "." + target.substr(platform::fileNameStart(target)) + ".salvora-";
}

void removeStaleWorkFiles(platform::Platform &os, const std::string &target) {
    std::string folder = platform::folderOf(target);
    std::string prefix = workFilePrefix(target);
    std::vector<platform::DirectoryEntry> entries;
    if (os.listDirectory(folder, prefix + "??????", entries) != 0)
        return;
    for (const platform::DirectoryEntry &entry : entries) {
        // The wildcard ignores letter case; the name must be the one we would have made.
        if (entry.isDirectory || entry.isSymlink || entry.name.compare(0, prefix.size(), prefix))
            continue;
        std::string path = platform::joinPath(folder, entry.name);
        platform::OpenResult held =
            os.openFile(path, {platform::Access::ReadWrite, platform::Share::None,
                               platform::Disposition::OpenExisting, false, false});
        if (!held)
            continue;
        held.file.reset();
        os.removeFile(path);
    }
}

std::size_t lastDbfOfFileName(const std::string &path) {
    std::size_t nameStart = platform::fileNameStart(path);
    std::size_t found = std::string::npos;
    for (std::size_t at = findNoCase(path, ".dbf", nameStart); at != std::string::npos;
         at = findNoCase(path, ".dbf", at + 1))
        found = at;
    return found;
}

} // namespace salvora
