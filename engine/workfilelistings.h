// The names beginning with a dot in each folder a batch works in, listed once per folder: the
// search for a killed run's work files would otherwise list a large folder once per table.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace salvora {

class WorkFileListings {
  public:
    // The folder's entries as they were when a table of it first asked; null when it could not
    // be listed. Safe to call from several runs at once; the entries stay valid while this
    // lives.
    const std::vector<platform::DirectoryEntry> *dotEntries(platform::Platform &os,
                                                            const std::string &folder);

  private:
    struct Listing {
        std::once_flag once;
        bool listed = false;
        std::vector<platform::DirectoryEntry> entries;
    };
    // In shards by the folder's name: workers in different folders take different locks.
    struct alignas(64) Shard {
        std::mutex mutex;
        std::map<std::string, Listing> folders;
    };
    static constexpr std::size_t shardCount = 64;
    std::vector<Shard> shards_ = std::vector<Shard>(shardCount);
};

} // namespace salvora
