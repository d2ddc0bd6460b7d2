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
    std::mutex mutex_;
    std::map<std::string, Listing> folders_;
};

} // namespace salvora
