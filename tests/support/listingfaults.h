// A platform that cannot list chosen folders, as if they were unreadable, and forwards
// everything else to another platform. Running as root, a test cannot make a real folder
// unreadable.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace salvora::testing {

class ListingFaults final : public platform::Platform {
  public:
    explicit ListingFaults(platform::Platform &inner = platform::nativePlatform())
        : inner_(inner) {}

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
        return inner_.listDirectory(folder, pattern, entries);
    }

    platform::OpenResult openFile(const std::string &path,
                                  const platform::OpenRequest &request) override {
        return inner_.openFile(path, request);
    }
    std::optional<platform::FileAttributes> getAttributes(const std::string &path,
                                                          platform::ErrorCode *error) override {
        return inner_.getAttributes(path, error);
    }
    platform::ErrorCode setAttributes(const std::string &path,
                                      const platform::FileAttributes &attributes) override {
        return inner_.setAttributes(path, attributes);
    }
    platform::ErrorCode setReadOnly(const std::string &path, bool readOnly) override {
        return inner_.setReadOnly(path, readOnly);
    }
    platform::ErrorCode copyFile(const std::string &from, const std::string &to) override {
        return inner_.copyFile(from, to);
    }
    platform::ErrorCode removeFile(const std::string &path) override {
        return inner_.removeFile(path);
    }
    platform::ErrorCode renameFile(const std::string &from, const std::string &to) override {
        return inner_.renameFile(from, to);
    }
    std::string tempFolder() override { return inner_.tempFolder(); }
    std::optional<std::string> createUniqueFile(const std::string &folder,
                                                const std::string &prefix,
                                                platform::ErrorCode *error) override {
        return inner_.createUniqueFile(folder, prefix, error);
    }
    std::string currentDirectory() override { return inner_.currentDirectory(); }
    std::optional<bool> sameFile(const std::string &a, const std::string &b) override {
        return inner_.sameFile(a, b);
    }
    platform::LocalTime localTime() override { return inner_.localTime(); }
    std::string errorText(platform::ErrorCode code) override { return inner_.errorText(code); }

  private:
    platform::Platform &inner_;
    std::map<std::string, platform::ErrorCode> failures_;
};

} // namespace salvora::testing
