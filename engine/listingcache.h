// A batch's view of the system that answers the look-ups of one name in a folder ("is there a
// memo spelled otherwise?") from one listing of the folder, not a listing per table: in a
// folder of thousands of tables that made a batch quadratic.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/forwardingplatform.h"

namespace salvora {

// A name that a listing still answering for it holds in no spelling is missing: the checks a
// run makes for files that are mostly not there (a memo of the other kind, an earlier run's
// journal) cost no look-up each, which took the folder's lock on some file systems.
//
// Every other call goes to the system as it is. A name the batch creates, renames or removes
// is marked when the call returns; a look-up of a name marked since its folder was listed
// lists the folder anew. So a look-up answers what a listing at that moment would, whatever
// the batch did before, from any thread. Only files other programs create or remove meanwhile
// can escape it.
class ListingCache final : public platform::ForwardingPlatform {
  public:
    explicit ListingCache(platform::Platform &inner) : ForwardingPlatform(inner) {}

    platform::ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                                      std::vector<platform::DirectoryEntry> &entries) override;

    platform::OpenResult openFile(const std::string &path,
                                  const platform::OpenRequest &request) override;
    std::optional<platform::FileAttributes>
    getAttributes(const std::string &path, platform::ErrorCode *error = nullptr) override;
    std::optional<platform::FileIdentity> identity(const std::string &path,
                                                   platform::ErrorCode *error = nullptr) override;
    bool isSymbolicLink(const std::string &path) override;
    EntryKind entryKind(const std::string &path) override;
    platform::ErrorCode copyFile(const std::string &from, const std::string &to) override;
    platform::ErrorCode removeFile(const std::string &path) override;
    platform::ErrorCode renameFile(const std::string &from, const std::string &to) override;
    std::optional<std::string> createUniqueFile(const std::string &folder,
                                                const std::string &prefix,
                                                platform::ErrorCode *error = nullptr) override;
    platform::OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                                        std::string &path) override;
    // Read once: the batch never changes the umask.
    platform::FileAttributes newFileAttributes() override;

    // The folder's part is resolved once: a name that is no link adds nothing to resolve.
    std::string resolvedPath(const std::string &path) override;
    // `folderPart` (a path up to and with its last separator, not empty) with every link in
    // it resolved, and a separator at its end.
    std::string resolvedFolder(const std::string &folderPart);
    // `path`, with a folder part and known to name no link (a listing showed it as a file),
    // resolved: only its folder has anything to resolve.
    std::string resolvedFilePath(const std::string &path);

    // How many times a folder was listed to answer a look-up (for tests).
    std::uint64_t listings() const;

  private:
    struct Folder {
        std::uint64_t listedAt = 0;
        // The entries in the order of their names in lower case, those of one such name in
        // the listing's order; `keys` holds those names. Flat: a folder of thousands of short
        // names takes two blocks, not several for each name.
        std::vector<std::string> keys;
        std::vector<platform::DirectoryEntry> entries;
    };
    std::string listingKey(const std::string &folder);
    bool isListed(const std::string &folder);
    // Lists `folder` whole and keeps the listing; `all` gets its entries in the system's order.
    platform::ErrorCode listAndKeep(const std::string &folder,
                                    std::vector<platform::DirectoryEntry> &all);
    // The entries of the name of `path` in every spelling, from a listing that still answers
    // for it; nothing when there is none, or the name is left to the system.
    std::optional<std::vector<platform::DirectoryEntry>> listedUnder(const std::string &path);
    // Whether a listing that still answers for the name of `path` holds it in no spelling.
    bool listedAbsent(const std::string &path);
    bool missing(const std::string &path, platform::ErrorCode *error);
    // Marks the name of `path` as changed by the batch from now on.
    void touch(const std::string &path);
    std::optional<std::vector<platform::DirectoryEntry>> cached(const std::string &folder,
                                                                const std::string &key);

    // Orders marks and listings; atomic, so that the workers' marks never wait for a lock.
    // Only a listing advances it: a mark reads it, and so stays off the other workers' way.
    std::atomic<std::uint64_t> clock_{0};
    std::atomic<std::uint64_t> listingCount_{0};
    // The latest mark by a hash of the name in lower case: names that share a slot only list
    // a folder more.
    std::vector<std::atomic<std::uint64_t>> touched_ =
        std::vector<std::atomic<std::uint64_t>>(std::size_t{1} << 16);
    // The listings and the resolved folders, in shards by the folder's name, each under a
    // lock of its own: workers in different folders then never write to the same lock, which
    // went back and forth between their processors at every look-up.
    struct alignas(64) Shard {
        std::shared_mutex mutex;
        std::unordered_map<std::string, std::string> resolvedFolders;
        std::unordered_map<std::string, Folder> folders;
    };
    static constexpr std::size_t shardCount = 64;
    Shard &shardOf(const std::string &folder);
    std::vector<Shard> shards_ = std::vector<Shard>(shardCount);
    std::once_flag newFileRead_;
    platform::FileAttributes newFile_;
};

} // namespace salvora
