// A platform that hands every call to another one. Layers over the system (and test doubles)
// derive from it and override only the calls they change, watch or break.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace salvora::platform {

class ForwardingPlatform : public Platform {
  public:
    explicit ForwardingPlatform(Platform &inner = nativePlatform()) : inner_(inner) {}

    OpenResult openFile(const std::string &path, const OpenRequest &request) override {
        return inner_.openFile(path, request);
    }
    std::optional<FileAttributes> getAttributes(const std::string &path,
                                                ErrorCode *error = nullptr) override {
        return inner_.getAttributes(path, error);
    }
    ErrorCode setAttributes(const std::string &path, const FileAttributes &attributes) override {
        return inner_.setAttributes(path, attributes);
    }
    ErrorCode setReadOnly(const std::string &path, bool readOnly) override {
        return inner_.setReadOnly(path, readOnly);
    }
    ErrorCode copyFile(const std::string &from, const std::string &to) override {
        return inner_.copyFile(from, to);
    }
    ErrorCode removeFile(const std::string &path) override { return inner_.removeFile(path); }
    ErrorCode renameFile(const std::string &from, const std::string &to) override {
        return inner_.renameFile(from, to);
    }
    std::string tempFolder() override { return inner_.tempFolder(); }
    std::optional<std::string> createUniqueFile(const std::string &folder,
                                                const std::string &prefix,
                                                ErrorCode *error = nullptr) override {
        return inner_.createUniqueFile(folder, prefix, error);
    }
    std::string currentDirectory() override { return inner_.currentDirectory(); }
    std::string resolvedPath(const std::string &path) override { return inner_.resolvedPath(path); }
    std::optional<bool> sameFile(const std::string &a, const std::string &b) override {
        return inner_.sameFile(a, b);
    }
    std::optional<FileIdentity> identity(const std::string &path,
                                         ErrorCode *error = nullptr) override {
        return inner_.identity(path, error);
    }
    bool isSymbolicLink(const std::string &path) override { return inner_.isSymbolicLink(path); }
    OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                              std::string &path) override {
        return inner_.createWorkFile(folder, prefix, path);
    }
    FileAttributes newFileAttributes() override { return inner_.newFileAttributes(); }
    bool replacesOpenFiles() override { return inner_.replacesOpenFiles(); }
    bool attributesGoWithHandle() override { return inner_.attributesGoWithHandle(); }
    ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                            std::vector<DirectoryEntry> &entries) override {
        return inner_.listDirectory(folder, pattern, entries);
    }
    LocalTime localTime() override { return inner_.localTime(); }
    std::string errorText(ErrorCode code) override { return inner_.errorText(code); }

  protected:
    Platform &inner() { return inner_; }

  private:
    Platform &inner_;
};

} // namespace salvora::platform
