#include "engine/workfilelistings.h"

#include <functional>

namespace salvora {

const std::vector<platform::DirectoryEntry> *
WorkFileListings::dotEntries(platform::Platform &os, const std::string &folder) {
    Shard &shard = shards_[std::hash<std::string>{}(folder) % shardCount];
    Listing *listing = nullptr;
    {
        std::lock_guard<std::mutex> hold(shard.mutex);
        listing = &shard.folders[folder];
    }
    // Each folder is listed under a lock of its own: a run in another folder need not wait.
    std::call_once(listing->once, [&] {
        listing->listed = os.listDirectory(folder, ".*", listing->entries) == 0;
    });
    return listing->listed ? &listing->entries : nullptr;
}

} // namespace salvora
