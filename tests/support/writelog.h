// A platform that forwards to another and notes, in order, how many bytes every write and
// every copy put on disk: where a disk could fill up during a run.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace salvora::testing {

class WriteLog final : public platform::Platform {
  public:
    explicit WriteLog(platform::Platform &inner = platform::nativePlatform());

    // Bytes of each write and copy so far, in the order they happened.
    std::vector<std::uint64_t> sizes() const { return *sizes_; }
    void clear() { sizes_->clear(); }

    platform::OpenResult openFile(const std::string &path,
                                  const platform::OpenRequest &request) override;
    std::optional<platform::FileAttributes>
    getAttributes(const std::string &path, platform::ErrorCode *error = nullptr) override {
        return inner_.getAttributes(path, error);
    }
    platform::ErrorCode setAttributes(const std::string &path,
                                      const platform::FileAttributes &attributes) override {
        return inner_.setAttributes(path, attributes);
    }
    platform::ErrorCode setReadOnly(const std::string &path, bool readOnly) override {
        return inner_.setReadOnly(path, readOnly);
    }
    platform::ErrorCode copyFile(const std::string &from, const std::string &to) override;
    platform::ErrorCode removeFile(const std::string &path) override {
        return inner_.removeFile(path);
    }
    platform::ErrorCode renameFile(const std::string &from, const std::string &to) override {
        return inner_.renameFile(from, to);
    }
    std::string tempFolder() override { return inner_.tempFolder(); }
    std::optional<std::string> createUniqueFile(const std::string &folder,
                                                const std::string &prefix,
                                                platform::ErrorCode *error = nullptr) override {
        return inner_.createUniqueFile(folder, prefix, error);
    }
    std::string currentDirectory() override { return inner_.currentDirectory(); }
    std::optional<bool> sameFile(const std::string &a, const std::string &b) override {
        return inner_.sameFile(a, b);
    }
    platform::ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                                      std::vector<platform::DirectoryEntry> &entries) override {
        return inner_.listDirectory(folder, pattern, entries);
    }
    platform::LocalTime localTime() override { return inner_.localTime(); }
    std::string errorText(platform::ErrorCode code) override { return inner_.errorText(code); }

  private:
    platform::Platform &inner_;
    // Shared with open handles, which may outlive a call.
    std::shared_ptr<std::vector<std::uint64_t>> sizes_;
};

} // namespace salvora::testing
