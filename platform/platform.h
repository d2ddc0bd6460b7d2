// The one doorway from the program to the operating system. Everything above this layer is
// portable; the POSIX and Win32 implementations live beside this header, and tests wrap the
// native implementation to inject faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace salvora::platform {

// errno on POSIX, GetLastError() on Windows. 0 means success.
using ErrorCode = int;

// Portable error codes the upper layers need to recognise, mapped to the native values.
ErrorCode errorFileNotFound();
ErrorCode errorSharingViolation();
ErrorCode errorDiskFull();
ErrorCode errorNameTooLong();
ErrorCode errorInvalidArgument();
// A FIFO, device or socket where a file was expected: never opened as one.
ErrorCode errorNotRegularFile();
// The last component is a symbolic link (or junction) and the open asked not to follow it.
ErrorCode errorLinkRefused();

enum class Access { Read, ReadWrite };

// How other openers may share the file while we hold it. On POSIX, None takes an exclusive
// advisory lock and the shared modes a shared one, both before any truncation.
enum class Share { None, Read, ReadWrite };

enum class Disposition {
    OpenExisting, // fail when missing
    OpenAlways,   // create an empty file when missing
    CreateAlways, // create, or truncate an existing file
    CreateNew,    // fail when it exists
};

struct OpenRequest {
    Access access = Access::Read;
    Share share = Share::None;
    Disposition disposition = Disposition::OpenExisting;
    bool sequentialScan = false;
    // False: a symbolic link at the last component is refused (errorLinkRefused()).
    bool followLinks = true;
    // Only plain files are opened; anything else fails at once, without blocking.
    bool regularOnly = true;
};

struct IoResult {
    std::size_t bytes = 0;
    ErrorCode error = 0;
    bool ok() const { return error == 0; }
};

// Nanoseconds since the Unix epoch; precise enough for both platforms' file times.
struct FileTime {
    std::int64_t nanoseconds = 0;
    bool operator==(const FileTime &) const = default;
};

struct FileTimes {
    FileTime creation;
    FileTime lastAccess;
    FileTime lastWrite;
};

// Read-only is the only attribute the program changes; the rest are carried opaquely so that
// they can be restored exactly.
struct FileAttributes {
    std::uint32_t native = 0;
    bool readOnly = false;
    bool isDirectory = false;
    // POSIX owner and group; `hasOwner` false where the system has none.
    bool hasOwner = false;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
};

// An open file. Closing happens in the destructor.
class FileHandle {
  public:
    virtual ~FileHandle() = default;
    FileHandle() = default;
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;

    // Reads until `size` bytes arrived, end of file or an error.
    virtual IoResult read(void *buffer, std::size_t size) = 0;
    // Writes everything or reports why not (a short write is an error: disk full).
    virtual IoResult write(const void *data, std::size_t size) = 0;
    virtual ErrorCode seek(std::uint64_t offset) = 0;
    virtual std::optional<std::uint64_t> size(ErrorCode *error = nullptr) = 0;
    // Cut (or extend) the file at the current position.
    virtual ErrorCode setEnd() = 0;
    // Push written data to stable storage.
    virtual ErrorCode flush() = 0;
    // A hint that the given range is final: the system may start writing it out, so that the
    // flush at the end has little left to do.
    virtual void startWriteBack(std::uint64_t /*offset*/, std::uint64_t /*length*/) {}
    virtual ErrorCode getTimes(FileTimes &times) = 0;
    virtual ErrorCode setTimes(const FileTimes &times) = 0;
    // Gives this file the mode and, where the system allows it, the owner of `attributes`
    // (read earlier from another file). Does nothing where files carry no such thing.
    virtual ErrorCode applyAttributes(const FileAttributes & /*attributes*/) { return 0; }
};

struct OpenResult {
    std::unique_ptr<FileHandle> file;
    ErrorCode error = 0;
    explicit operator bool() const { return file != nullptr; }
};

struct LocalTime {
    int year = 1970;
    int month = 1; // 1-12
    int day = 1;   // 1-31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct DirectoryEntry {
    std::string name;
    bool isDirectory = false;
    bool isSymlink = false;
};

// What makes a file the same file under any of its names (device and inode, volume and index).
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    auto operator<=>(const FileIdentity &) const = default;
};

class Platform {
  public:
    virtual ~Platform() = default;

    virtual OpenResult openFile(const std::string &path, const OpenRequest &request) = 0;

    virtual std::optional<FileAttributes> getAttributes(const std::string &path,
                                                        ErrorCode *error = nullptr) = 0;
    // Restores `attributes` as read earlier; only the read-only state is computed anew.
    virtual ErrorCode setAttributes(const std::string &path, const FileAttributes &attributes) = 0;
    virtual ErrorCode setReadOnly(const std::string &path, bool readOnly) = 0;

    virtual ErrorCode copyFile(const std::string &from, const std::string &to) = 0;
    virtual ErrorCode removeFile(const std::string &path) = 0;
    // Replaces `to` atomically when it exists.
    virtual ErrorCode renameFile(const std::string &from, const std::string &to) = 0;

    virtual std::string tempFolder() = 0;
    // Creates a new empty file in `folder` named from `prefix` and a unique suffix.
    virtual std::optional<std::string> createUniqueFile(const std::string &folder,
                                                        const std::string &prefix,
                                                        ErrorCode *error = nullptr) = 0;
    virtual std::string currentDirectory() = 0;

    // The path with symbolic links resolved, so that replacing a file reaches the file and
    // not the link; the path as given when it cannot be resolved.
    virtual std::string resolvedPath(const std::string &path) { return path; }

    // Nullopt when either path cannot be examined (for example the second does not exist yet).
    virtual std::optional<bool> sameFile(const std::string &a, const std::string &b) = 0;
    // The identity of what `path` names, links followed.
    virtual std::optional<FileIdentity> identity(const std::string &path,
                                                 ErrorCode *error = nullptr) = 0;
    // True when the last component of `path` is a symbolic link or a junction.
    virtual bool isSymbolicLink(const std::string &path) = 0;
    // What the last component of `path` is, the link itself and not what it leads to.
    enum class EntryKind { Missing, Link, Other };
    virtual EntryKind entryKind(const std::string &path) {
        if (isSymbolicLink(path))
            return EntryKind::Link;
        return getAttributes(path) ? EntryKind::Other : EntryKind::Missing;
    }

    // A new work file in `folder` named `prefix` and six random characters: created
    // exclusively, never through a link, readable by the user alone, and locked for as long as
    // the handle lives, so that a cleaner can tell a live owner's file from a dead one's.
    virtual OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                                      std::string &path) = 0;
    // Attributes a file created now would get (on POSIX: mode 0666 less the umask).
    virtual FileAttributes newFileAttributes() { return FileAttributes{}; }
    // Whether a rename may replace a file this process holds open (not on Windows): the run
    // then keeps its locks until the result is in place.
    virtual bool replacesOpenFiles() { return true; }
    // Whether a handle's `applyAttributes` gives the file all its attributes (owner and mode
    // on POSIX), so that nothing is left to set by name once it is in place.
    virtual bool attributesGoWithHandle() { return false; }

    // Entries of `folder` whose names match `pattern` (case-insensitive '*' and '?'), without
    // "." and "..", sorted case-insensitively so that runs are reproducible.
    virtual ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                                    std::vector<DirectoryEntry> &entries) = 0;

    virtual LocalTime localTime() = 0;

    virtual std::string errorText(ErrorCode code) = 0;
};

// The real operating system, one instance for the process.
Platform &nativePlatform();

// Gives the calling thread a table of open files of its own where the system has such a
// thing: a worker that opens and closes only its own files then no longer contends with the
// other threads for the process's table. Files open before stay open in its table (with their
// locks) until the thread ends; those it opens afterwards are its alone.
void ownFileTableForThisThread();

// Path helpers that depend on the platform's separators.
bool isPathSeparator(char c);
char preferredSeparator();
// Position just after the last separator (0 when there is none).
std::size_t fileNameStart(const std::string &path);
std::string folderOf(const std::string &path); // without the trailing separator; "." when none
std::string joinPath(const std::string &folder, const std::string &name);

// Case-insensitive wildcard match over ASCII letters ('*' any run, '?' one character).
bool wildcardMatch(const std::string &pattern, const std::string &name);
// ASCII letters in lower case, the others as they are: names compared as `wildcardMatch` does.
// Inline: the listings' order and the wildcard compare names a character at a time.
constexpr char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string lowerAscii(std::string text);
// A folder's listing in the order every listing has: by name regardless of case, then by bytes.
void sortListing(std::vector<DirectoryEntry> &entries);

} // namespace salvora::platform
