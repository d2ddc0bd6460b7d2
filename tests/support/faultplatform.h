// A platform for tests: forwards to a real one (the native one by default) and lets a test
// make chosen operations fail, simulate a crash at any step, fix the clock and count calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace salvora::testing {

// Chooses the paths a fault or a counter applies to. An empty filter matches every path.
using PathFilter = std::function<bool(const std::string &path)>;

PathFilter anyPath();
PathFilter pathIs(std::string path);
// Case-insensitive, so that "X.DBF" and "x.dbf" are both caught by ".dbf".
PathFilter pathEndsWith(std::string suffix);

// The native code of an input/output error (EIO on POSIX).
platform::ErrorCode ioError();

// Operations that can be made to fail as a whole. For Rename and Copy the filter is tried on
// both paths; for CreateUnique on the folder; SetAttributes covers setReadOnly too.
enum class Operation { Open, Rename, Copy, Remove, CreateUnique, SetAttributes };

struct IoCounters {
    std::uint64_t opens = 0;
    std::uint64_t reads = 0;
    std::uint64_t writes = 0;
    std::uint64_t seeks = 0;
    std::uint64_t setEnds = 0;
    std::uint64_t flushes = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesWritten = 0;
};

class FaultPlatform final : public platform::Platform {
  public:
    explicit FaultPlatform(platform::Platform &inner = platform::nativePlatform());
    ~FaultPlatform() override;

    // Disk full: writes to matching files may add `bytes` more in total; the write that
    // crosses the limit is cut short there and fails, as does every later one.
    void failWritesAfter(std::uint64_t bytes, PathFilter filter = {},
                         platform::ErrorCode error = platform::errorDiskFull());
    // A bad spot: a read of a matching file that covers [offset, offset + length) delivers
    // the bytes before it, then fails; `times` as for failOperation. The first `spared` reads
    // that cover it still succeed, as a spot that goes bad while it is read does.
    void failReadsAt(PathFilter filter, std::uint64_t offset, std::uint64_t length = 1,
                     platform::ErrorCode error = ioError(), int times = -1, int spared = 0);
    // `times` < 0 fails for ever; otherwise the fault wears off after that many hits.
    void failOperation(Operation operation, PathFilter filter, platform::ErrorCode error,
                       int times = -1);
    // Opens of matching files, optionally only those with the given access or disposition.
    void failOpen(PathFilter filter, platform::ErrorCode error,
                  std::optional<platform::Access> access = std::nullopt,
                  std::optional<platform::Disposition> disposition = std::nullopt, int times = -1);

    // Crash: after `operations` more mutating operations (write, setEnd, setTimes, rename,
    // remove, copy, attribute changes, unique-file creation, opens that may create or
    // truncate) every further one does nothing and fails with ioError(), flushes included.
    void crashAfter(std::uint64_t operations);
    bool crashed() const;
    // Mutating operations seen so far; run once without faults to learn how many steps to try.
    std::uint64_t mutatingOperations() const;

    // Removes every fault and the crash countdown; counters and the clock stay.
    void clearFaults();

    void setLocalTime(std::optional<platform::LocalTime> time);

    // Counters of matching paths, as spelled when opened, summed.
    IoCounters counters(const PathFilter &filter = {}) const;
    void resetCounters();

    platform::OpenResult openFile(const std::string &path,
                                  const platform::OpenRequest &request) override;
    std::optional<platform::FileAttributes>
    getAttributes(const std::string &path, platform::ErrorCode *error = nullptr) override;
    platform::ErrorCode setAttributes(const std::string &path,
                                      const platform::FileAttributes &attributes) override;
    platform::ErrorCode setReadOnly(const std::string &path, bool readOnly) override;
    platform::ErrorCode copyFile(const std::string &from, const std::string &to) override;
    platform::ErrorCode removeFile(const std::string &path) override;
    platform::ErrorCode renameFile(const std::string &from, const std::string &to) override;
    std::string tempFolder() override;
    std::optional<std::string> createUniqueFile(const std::string &folder,
                                                const std::string &prefix,
                                                platform::ErrorCode *error = nullptr) override;
    std::string currentDirectory() override;
    std::string resolvedPath(const std::string &path) override;
    std::optional<bool> sameFile(const std::string &a, const std::string &b) override;
    std::optional<platform::FileIdentity> identity(const std::string &path,
                                                   platform::ErrorCode *error = nullptr) override;
    bool isSymbolicLink(const std::string &path) override;
    platform::OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                                        std::string &path) override;
    platform::FileAttributes newFileAttributes() override;
    bool replacesOpenFiles() override { return inner_.replacesOpenFiles(); }
    platform::ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                                      std::vector<platform::DirectoryEntry> &entries) override;
    platform::LocalTime localTime() override;
    std::string errorText(platform::ErrorCode code) override;

    struct State;

  private:
    platform::Platform &inner_;
    // Shared with open handles, so a handle outliving the platform stays safe.
    std::shared_ptr<State> state_;
};

} // namespace salvora::testing
