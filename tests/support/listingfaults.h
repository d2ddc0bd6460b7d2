// A platform that cannot list chosen folders, as if they were unreadable, and forwards
// everything else to another platform. Running as root, a test cannot make a real folder
// unreadable.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tests/support/forwardingplatform.h"

namespace salvora::testing {

class ListingFaults final : public ForwardingPlatform {
  public:
    using ForwardingPlatform::ForwardingPlatform;

    // Listing `folder`, spelled exactly so, fails with `error`.
    void failListing(const std::string &folder, platform::ErrorCode error) {
        failures_[folder] = error;
    }
    std::vector<std::string> listed;

    platform::ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                                      std::vector<platform::DirectoryEntry> &entries) override {
        listed.push_back(folder);
        if (auto found = failures_.find(folder); found != failures_.end()) {
            entries.clear();
            return found->second;
        }
        return inner().listDirectory(folder, pattern, entries);
    }

  private:
    std::map<std::string, platform::ErrorCode> failures_;
};

} // namespace salvora::testing
