#include "engine/workfilelistings.h"

namespace salvora {

const std::vector<platform::DirectoryEntry> *
WorkFileListings::dotEntries(platform::Platform &os, const std::string &folder) {
    std::lock_guard<std::mutex> hold(mutex_);
    auto [at, added] = folders_.try_emplace(folder);
    if (added)
        at->second.listed = os.listDirectory(folder, ".*", at->second.entries) == 0;
    return at->second.listed ? &at->second.entries : nullptr;
}

} // namespace salvora
