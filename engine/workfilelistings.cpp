#include "engine/workfilelistings.h"

namespace salvora {

const std::vector<platform::DirectoryEntry> *
WorkFileListings::dotEntries(platform::Platform &os, const std::string &folder) {
    Listing *listing = nullptr;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        listing = &folders_[folder];
    }
    // Each folder is listed under a lock of its own: a run in another folder need not wait.
    std::call_once(listing->once, [&] {
        listing->listed = os.listDirectory(folder, ".*", listing->entries) == 0;
    });
    return listing->listed ? &listing->entries : nullptr;
}

} // namespace salvora
