// A platform that hands every call to another one. Test doubles derive from it and override
// only the calls they watch or break.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace salvora::testing {

class ForwardingPlatform : public platform::Platform {
  public:
    explicit ForwardingPlatform(platform::Platform &inner = platform::nativePlatform())
        : inner_(inner) {}

    platform::OpenResult openFile(const std::string &path,
                                  const platform::OpenRequest &request) override {
        return inner_.openFile(path, request);
    }
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
                                                platform::ErrorCode *error = nullptr) override {
        return inner_.createUniqueFile(folder, prefix, error);
    }
    std::string currentDirectory() override { return inner_.currentDirectory(); }
    std::string resolvedPath(const std::string &path) override { return inner_.resolvedPath(path); }
    std::optional<bool> sameFile(const std::string &a, const std::string &b) override {
        return inner_.sameFile(a, b);
    }
    std::optional<platform::FileIdentity> identity(const std::string &path,
                                                   platform::ErrorCode *error = nullptr) override {
        return inner_.identity(path, error);
    }
    bool isSymbolicLink(const std::string &path) override { return inner_.isSymbolicLink(path); }
    platform::OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                                        std::string &path) override {
        return inner_.createWorkFile(folder, prefix, path);
    }
    platform::FileAttributes newFileAttributes() override { return inner_.newFileAttributes(); }
    bool replacesOpenFiles() override { return inner_.replacesOpenFiles(); }
    platform::ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                                      std::vector<platform::DirectoryEntry> &entries) override {
        return inner_.listDirectory(folder, pattern, entries);
    }
    platform::LocalTime localTime() override { return inner_.localTime(); }
    std::string errorText(platform::ErrorCode code) override { return inner_.errorText(code); }

  protected:
    platform::Platform &inner() { return inner_; }

  private:
    platform::Platform &inner_;
};

} // namespace salvora::testing
