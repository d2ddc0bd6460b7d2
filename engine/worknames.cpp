#include "engine/worknames.h"

#include <cstdint>
#include <vector>

#include "engine/superfasthash.h"
#include "engine/textformat.h"
#include "engine/workfilelistings.h"

namespace salvora {

std::string workFilePrefix(const std::string &target) {
    return "." + target.substr(platform::fileNameStart(target)) + ".salvora-";
}

std::string shortWorkFilePrefix(const std::string &target) {
    std::size_t nameStart = platform::fileNameStart(target);
    std::uint32_t hash =
        superFastHash(reinterpret_cast<const std::uint8_t *>(target.data()) + nameStart,
                      static_cast<std::int32_t>(target.size() - nameStart));
    std::string prefix = ".sv";
    for (int shift = 28; shift >= 0; shift -= 4)
        prefix += "0123456789abcdef"[(hash >> shift) & 0xF];
    return prefix + "-";
}

void removeStaleWorkFiles(platform::Platform &os, const std::string &target,
                          WorkFileListings *listings) {
    std::string folder = platform::folderOf(target);
    const std::string prefixes[] = {workFilePrefix(target), shortWorkFilePrefix(target)};
    // One listing serves both forms: every work file name starts with a dot.
    std::vector<platform::DirectoryEntry> own;
    const std::vector<platform::DirectoryEntry> *entries = &own;
    if (listings)
        entries = listings->dotEntries(os, folder);
    else if (os.listDirectory(folder, ".*", own) != 0)
        entries = nullptr;
    if (!entries)
        return;
    for (const platform::DirectoryEntry &entry : *entries) {
        // The wildcard ignores letter case; the name must be one we would have made (a journal
        // or a saved memo is not a work file).
        auto ours = [&entry](const std::string &prefix) {
            return entry.name.size() == prefix.size() + 6 &&
                   entry.name.compare(0, prefix.size(), prefix) == 0;
        };
        if (entry.isDirectory || entry.isSymlink || !(ours(prefixes[0]) || ours(prefixes[1])))
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

platform::OpenResult createWorkFileFor(platform::Platform &os, const std::string &target,
                                       std::string &path, WorkFileListings *listings) {
    removeStaleWorkFiles(os, target, listings);
    std::string folder = platform::folderOf(target);
    platform::OpenResult created = os.createWorkFile(folder, workFilePrefix(target), path);
    if (!created && created.error == platform::errorNameTooLong())
        created = os.createWorkFile(folder, shortWorkFilePrefix(target), path);
    return created;
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
