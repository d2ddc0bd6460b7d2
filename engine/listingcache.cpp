#include "engine/listingcache.h"

#include <algorithm>
#include <functional>
#include <string_view>

namespace salvora {

namespace {

// The slot of a file name by a hash of its lower-case form, taken as it is read: marks are
// made several times a table.
std::size_t nameSlot(std::string_view name, std::size_t slots) {
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (char c : name) {
        hash ^= static_cast<unsigned char>(platform::lowerAscii(c));
        hash *= 0x100000001B3ull;
    }
    return static_cast<std::size_t>(hash % slots);
}

std::vector<platform::DirectoryEntry> entriesNamed(const std::vector<std::string> &keys,
                                                   const std::vector<platform::DirectoryEntry> &all,
                                                   const std::string &key) {
    auto [first, last] = std::equal_range(keys.begin(), keys.end(), key);
    return {all.begin() + (first - keys.begin()), all.begin() + (last - keys.begin())};
}

} // namespace

ListingCache::Shard &ListingCache::shardOf(const std::string &folder) {
    return shards_[std::hash<std::string>{}(folder) % shardCount];
}

// A mark later than every listing begun before the change it stands for: such a listing may
// have missed the change.
void ListingCache::touch(const std::string &path) {
    std::atomic<std::uint64_t> &slot = touched_[nameSlot(
        std::string_view(path).substr(platform::fileNameStart(path)), touched_.size())];
    std::uint64_t now = clock_.load() + 1;
    std::uint64_t seen = slot.load();
    while (seen < now && !slot.compare_exchange_weak(seen, now)) {
    }
}

// Listings are kept by the real folder: a batch names one folder in several ways (as the walk
// found it, and resolved, for the work files beside a table's real path).
std::string ListingCache::listingKey(const std::string &folder) {
    if (folder.empty())
        return resolvedFolder(std::string(".") + platform::preferredSeparator());
    if (platform::fileNameStart(folder) == folder.size())
        return resolvedFolder(folder);
    return resolvedFolder(folder + platform::preferredSeparator());
}

std::optional<std::vector<platform::DirectoryEntry>> ListingCache::cached(const std::string &folder,
                                                                          const std::string &key) {
    const std::string real = listingKey(folder);
    Shard &shard = shardOf(real);
    std::shared_lock<std::shared_mutex> hold(shard.mutex);
    auto listed = shard.folders.find(real);
    if (listed == shard.folders.end())
        return std::nullopt;
    // A mark equal to the stamp was made before the listing began: the listing saw its change.
    if (touched_[nameSlot(key, touched_.size())].load() > listed->second.listedAt)
        return std::nullopt;
    return entriesNamed(listed->second.keys, listed->second.entries, key);
}

platform::ErrorCode ListingCache::listDirectory(const std::string &folder,
                                                const std::string &pattern,
                                                std::vector<platform::DirectoryEntry> &entries) {
    const bool mask = pattern.empty() || pattern.find_first_of("*?") != std::string::npos;
    std::string key = mask ? std::string() : platform::lowerAscii(pattern);
    if (!mask) {
        if (auto answer = cached(folder, key)) {
            entries = std::move(*answer);
            return 0;
        }
    } else if (isListed(folder)) {
        // A mask cannot tell which names changed since the listing.
        return inner().listDirectory(folder, pattern, entries);
    }
    // A folder's first listing, whatever asked for it, serves the look-ups that follow.
    std::vector<platform::DirectoryEntry> all;
    if (listAndKeep(folder, all) != 0)
        return inner().listDirectory(folder, pattern, entries);
    entries.clear();
    for (platform::DirectoryEntry &entry : all) {
        if (mask ? platform::wildcardMatch(pattern, entry.name)
                 : platform::lowerAscii(entry.name) == key)
            entries.push_back(std::move(entry));
    }
    return 0;
}

bool ListingCache::isListed(const std::string &folder) {
    const std::string real = listingKey(folder);
    Shard &shard = shardOf(real);
    std::shared_lock<std::shared_mutex> hold(shard.mutex);
    return shard.folders.count(real) != 0;
}

platform::ErrorCode ListingCache::listAndKeep(const std::string &folder,
                                              std::vector<platform::DirectoryEntry> &all) {
    std::uint64_t stamp = ++clock_;
    ++listingCount_;
    if (platform::ErrorCode error = inner().listDirectory(folder, "*", all))
        return error;
    Folder fresh;
    fresh.listedAt = stamp;
    std::vector<std::size_t> order(all.size());
    std::vector<std::string> keys(all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        order[i] = i;
        keys[i] = platform::lowerAscii(all[i].name);
    }
    // A system's listing is in this order already; one in another is put in it.
    auto byKey = [&keys](std::size_t x, std::size_t y) { return keys[x] < keys[y]; };
    if (!std::is_sorted(order.begin(), order.end(), byKey))
        std::stable_sort(order.begin(), order.end(), byKey);
    fresh.keys.reserve(all.size());
    fresh.entries.reserve(all.size());
    for (std::size_t i : order) {
        fresh.keys.push_back(std::move(keys[i]));
        fresh.entries.push_back(all[i]);
    }
    const std::string real = listingKey(folder);
    Shard &shard = shardOf(real);
    std::unique_lock<std::shared_mutex> hold(shard.mutex);
    Folder &kept = shard.folders[real];
    if (kept.listedAt < stamp)
        kept = std::move(fresh);
    return 0;
}

std::optional<std::vector<platform::DirectoryEntry>>
ListingCache::listedUnder(const std::string &path) {
    std::size_t nameStart = platform::fileNameStart(path);
    if (nameStart == 0 || nameStart == path.size())
        return std::nullopt;
    std::string key = platform::lowerAscii(path.substr(nameStart));
    // Names a system may take for another one (a short name, a trailing dot or space) are
    // left to it.
    if (key.back() == '.' || key.back() == ' ' || key.find('~') != std::string::npos)
        return std::nullopt;
    return cached(platform::folderOf(path), key);
}

bool ListingCache::listedAbsent(const std::string &path) {
    auto listed = listedUnder(path);
    return listed && listed->empty();
}

// True, with the system's "not found", when a listing answers that `path` is missing.
bool ListingCache::missing(const std::string &path, platform::ErrorCode *error) {
    if (!listedAbsent(path))
        return false;
    if (error)
        *error = platform::errorFileNotFound();
    return true;
}

std::optional<platform::FileAttributes> ListingCache::getAttributes(const std::string &path,
                                                                    platform::ErrorCode *error) {
    if (missing(path, error))
        return std::nullopt;
    return inner().getAttributes(path, error);
}

std::optional<platform::FileIdentity> ListingCache::identity(const std::string &path,
                                                             platform::ErrorCode *error) {
    if (missing(path, error))
        return std::nullopt;
    return inner().identity(path, error);
}

bool ListingCache::isSymbolicLink(const std::string &path) {
    return !listedAbsent(path) && inner().isSymbolicLink(path);
}

platform::Platform::EntryKind ListingCache::entryKind(const std::string &path) {
    return listedAbsent(path) ? EntryKind::Missing : inner().entryKind(path);
}

// Each call marks the names it may have changed once it returned, failed or not: a listing
// that began before the mark does not answer for them any more. A look-up while the call
// runs may see the folder before or after it, as a listing would.
platform::OpenResult ListingCache::openFile(const std::string &path,
                                            const platform::OpenRequest &request) {
    if (request.disposition == platform::Disposition::OpenExisting && listedAbsent(path))
        return {nullptr, platform::errorFileNotFound()};
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
    if (nameStart == 0 || name.empty() || name == "." || name == "..")
        return inner().resolvedPath(path);
    auto listed = listedUnder(path);
    // What the system gives for a missing name: the path as it stands.
    if (listed && listed->empty())
        return path;
    // A name its listing shows spelled so, alone and as no link, needs no look of its own.
    const bool plainName =
        listed && listed->size() == 1 && listed->front().name == name && !listed->front().isSymlink;
    if (!plainName && inner().entryKind(path) != EntryKind::Other)
        return inner().resolvedPath(path);
    return resolvedFilePath(path);
}

std::string ListingCache::resolvedFilePath(const std::string &path) {
    std::size_t nameStart = platform::fileNameStart(path);
    return resolvedFolder(path.substr(0, nameStart)) + path.substr(nameStart);
}

std::string ListingCache::resolvedFolder(const std::string &folderPart) {
    Shard &shard = shardOf(folderPart);
    {
        // Shared: the folders are few, and found far more often than added.
        std::shared_lock<std::shared_mutex> hold(shard.mutex);
        auto known = shard.resolvedFolders.find(folderPart);
        if (known != shard.resolvedFolders.end())
            return known->second;
    }
    std::string folder = inner().resolvedPath(folderPart);
    // A bare drive ("C:") stands for its current folder, not for its root.
    if (folder.empty() || platform::fileNameStart(folder) != folder.size())
        folder += platform::preferredSeparator();
    std::unique_lock<std::shared_mutex> hold(shard.mutex);
    shard.resolvedFolders.emplace(folderPart, folder);
    return folder;
}

platform::FileAttributes ListingCache::newFileAttributes() {
    std::call_once(newFileRead_, [this] { newFile_ = inner().newFileAttributes(); });
    return newFile_;
}

std::uint64_t ListingCache::listings() const {
    return listingCount_;
}

} // namespace salvora
