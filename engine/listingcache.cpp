#include "engine/listingcache.h"

#include <functional>

namespace salvora {

namespace {

std::size_t nameSlot(const std::string &lowerName, std::size_t slots) {
    return std::hash<std::string>{}(lowerName) % slots;
}

} // namespace

void ListingCache::touch(const std::string &path) {
    std::atomic<std::uint64_t> &slot = touched_[nameSlot(
        platform::lowerAscii(path.substr(platform::fileNameStart(path))), touched_.size())];
    std::uint64_t now = ++clock_;
    std::uint64_t seen = slot.load();
    while (seen < now && !slot.compare_exchange_weak(seen, now)) {
    }
}

std::optional<std::vector<platform::DirectoryEntry>> ListingCache::cached(const std::string &folder,
                                                                          const std::string &key) {
    std::shared_lock<std::shared_mutex> hold(mutex_);
    auto listed = folders_.find(folder);
    if (listed == folders_.end())
        return std::nullopt;
    if (touched_[nameSlot(key, touched_.size())].load() >= listed->second.listedAt)
        return std::nullopt;
    auto found = listed->second.names.find(key);
    if (found == listed->second.names.end())
        return std::vector<platform::DirectoryEntry>{};
    return found->second;
}

platform::ErrorCode ListingCache::listDirectory(const std::string &folder,
                                                const std::string &pattern,
                                                std::vector<platform::DirectoryEntry> &entries) {
    if (pattern.empty() || pattern.find_first_of("*?") != std::string::npos)
        return inner().listDirectory(folder, pattern, entries);
    std::string key = platform::lowerAscii(pattern);
    if (auto answer = cached(folder, key)) {
        entries = std::move(*answer);
        return 0;
    }
    std::uint64_t stamp = ++clock_;
    ++listingCount_;
    std::vector<platform::DirectoryEntry> all;
    if (inner().listDirectory(folder, "*", all) != 0)
        return inner().listDirectory(folder, pattern, entries);
    Folder fresh;
    fresh.listedAt = stamp;
    for (platform::DirectoryEntry &entry : all) {
        std::string name = platform::lowerAscii(entry.name);
        fresh.names[name].push_back(std::move(entry));
    }
    auto found = fresh.names.find(key);
    entries = found == fresh.names.end() ? std::vector<platform::DirectoryEntry>{} : found->second;
    std::unique_lock<std::shared_mutex> hold(mutex_);
    Folder &kept = folders_[folder];
    if (kept.listedAt < stamp)
        kept = std::move(fresh);
    return 0;
}

// Each call marks the names it may have changed once it returned, failed or not: a listing
// that began before the mark does not answer for them any more. A look-up while the call
// runs may see the folder before or after it, as a listing would.
platform::OpenResult ListingCache::openFile(const std::string &path,
                                            const platform::OpenRequest &request) {
    platform::OpenResult opened = inner().openFile(path, request);
    if (request.disposition != platform::Disposition::OpenExisting)
        touch(path);
    return opened;
}

platform::ErrorCode ListingCache::copyFile(const std::string &from, const std::string &to) {
    platform::ErrorCode error = inner().copyFile(from, to);
    touch(to);
    return error;
}

platform::ErrorCode ListingCache::removeFile(const std::string &path) {
    platform::ErrorCode error = inner().removeFile(path);
    touch(path);
    return error;
}

platform::ErrorCode ListingCache::renameFile(const std::string &from, const std::string &to) {
    platform::ErrorCode error = inner().renameFile(from, to);
    touch(from);
    touch(to);
    return error;
}

std::optional<std::string> ListingCache::createUniqueFile(const std::string &folder,
                                                          const std::string &prefix,
                                                          platform::ErrorCode *error) {
    std::optional<std::string> path = inner().createUniqueFile(folder, prefix, error);
    if (path)
        touch(*path);
    return path;
}

platform::OpenResult ListingCache::createWorkFile(const std::string &folder,
                                                  const std::string &prefix, std::string &path) {
    platform::OpenResult created = inner().createWorkFile(folder, prefix, path);
    if (created)
        touch(path);
    return created;
}

std::string ListingCache::resolvedPath(const std::string &path) {
    std::size_t nameStart = platform::fileNameStart(path);
    std::string name = path.substr(nameStart);
    // A missing file or a link is left to the system, as are names that climb.
    if (nameStart == 0 || name.empty() || name == "." || name == ".." ||
        inner().entryKind(path) != EntryKind::Other)
        return inner().resolvedPath(path);
    std::string prefix = path.substr(0, nameStart);
    {
        // Shared: the folders are few, and found far more often than added.
        std::shared_lock<std::shared_mutex> hold(mutex_);
        auto known = resolvedFolders_.find(prefix);
        if (known != resolvedFolders_.end())
            return known->second + name;
    }
    std::string folder = inner().resolvedPath(prefix);
    if (folder.empty() || !platform::isPathSeparator(folder.back()))
        folder += platform::preferredSeparator();
    std::unique_lock<std::shared_mutex> hold(mutex_);
    resolvedFolders_.emplace(prefix, folder);
    return folder + name;
}

platform::FileAttributes ListingCache::newFileAttributes() {
    std::call_once(newFileRead_, [this] { newFile_ = inner().newFileAttributes(); });
    return newFile_;
}

std::uint64_t ListingCache::listings() const {
    return listingCount_;
}

} // namespace salvora
