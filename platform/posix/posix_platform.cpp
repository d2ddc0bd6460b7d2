#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#ifdef __linux__
#include <sched.h>
#endif
#include <mutex>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace salvora::platform {

ErrorCode errorFileNotFound() {
    return ENOENT;
}
ErrorCode errorSharingViolation() {
    return EWOULDBLOCK;
}
ErrorCode errorDiskFull() {
    return ENOSPC;
}
ErrorCode errorNameTooLong() {
    return ENAMETOOLONG;
}
ErrorCode errorInvalidArgument() {
    return EINVAL;
}

// No errno says either; values far above the system's own.
constexpr ErrorCode notRegularFileCode = 0x5A100001;
constexpr ErrorCode linkRefusedCode = 0x5A100002;

ErrorCode errorNotRegularFile() {
    return notRegularFileCode;
}
ErrorCode errorLinkRefused() {
    return linkRefusedCode;
}

namespace {

ErrorCode lastErrno() {
    return errno != 0 ? errno : EIO;
}

FileTime toFileTime(const timespec &ts) {
    return FileTime{static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec};
}

timespec toTimespec(FileTime t) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(t.nanoseconds / 1000000000);
    ts.tv_nsec = static_cast<long>(t.nanoseconds % 1000000000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1000000000;
        --ts.tv_sec;
    }
    return ts;
}

// A plain file keeps its position here and is read and written at it (pread, pwrite): a seek
// costs no call to the system, and threads sharing the process's files skip the position
// lock. A device or a pipe (a report may go to one) is read and written as a stream.
class PosixFile final : public FileHandle {
  public:
    PosixFile(int fd, bool positioned) : fd_(fd), positioned_(positioned) {}
    ~PosixFile() override { ::close(fd_); }

    IoResult read(void *buffer, std::size_t size) override {
        IoResult result;
        auto *out = static_cast<unsigned char *>(buffer);
        while (result.bytes < size) {
            ssize_t got = positioned_ ? ::pread(fd_, out + result.bytes, size - result.bytes,
                                                static_cast<off_t>(position_ + result.bytes))
                                      : ::read(fd_, out + result.bytes, size - result.bytes);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                result.error = lastErrno();
                break;
            }
            if (got == 0)
                break;
            result.bytes += static_cast<std::size_t>(got);
        }
        position_ += result.bytes;
        return result;
    }

    IoResult write(const void *data, std::size_t size) override {
        IoResult result;
        const auto *in = static_cast<const unsigned char *>(data);
        while (result.bytes < size) {
            ssize_t put = positioned_ ? ::pwrite(fd_, in + result.bytes, size - result.bytes,
                                                 static_cast<off_t>(position_ + result.bytes))
                                      : ::write(fd_, in + result.bytes, size - result.bytes);
            if (put < 0) {
                if (errno == EINTR)
                    continue;
                result.error = lastErrno();
                break;
            }
            if (put == 0) {
                result.error = ENOSPC;
                break;
            }
            result.bytes += static_cast<std::size_t>(put);
        }
        position_ += result.bytes;
        return result;
    }

    ErrorCode seek(std::uint64_t offset) override {
        if (offset > static_cast<std::uint64_t>(INT64_MAX))
            return EINVAL;
        if (!positioned_ && ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
            return lastErrno();
        position_ = offset;
        return 0;
    }

    std::optional<std::uint64_t> size(ErrorCode *error) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            if (error)
                *error = lastErrno();
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(st.st_size);
    }

    ErrorCode setEnd() override {
        off_t here = positioned_ ? static_cast<off_t>(position_) : ::lseek(fd_, 0, SEEK_CUR);
        if (here < 0)
            return lastErrno();
        if (::ftruncate(fd_, here) != 0)
            return lastErrno();
        return 0;
    }

    void startWriteBack(std::uint64_t offset, std::uint64_t length) override {
#ifdef SYNC_FILE_RANGE_WRITE
        ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length),
                          SYNC_FILE_RANGE_WRITE);
#else
        (void)offset;
        (void)length;
#endif
    }

    ErrorCode flush() override {
        if (::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS)
            return lastErrno();
        return 0;
    }

    ErrorCode getTimes(FileTimes &times) override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            return lastErrno();
        // POSIX keeps no creation time; the change time is the closest stand-in.
        times.creation = toFileTime(st.st_ctim);
        times.lastAccess = toFileTime(st.st_atim);
        times.lastWrite = toFileTime(st.st_mtim);
        return 0;
    }

    ErrorCode setTimes(const FileTimes &times) override {
        timespec ts[2] = {toTimespec(times.lastAccess), toTimespec(times.lastWrite)};
        if (::futimens(fd_, ts) != 0)
            return lastErrno();
        return 0;
    }

    ErrorCode applyAttributes(const FileAttributes &attributes) override {
        // Only root may give a file away; anyone else keeps the file as their own.
        if (attributes.hasOwner && ::fchown(fd_, attributes.owner, attributes.group) != 0 &&
            errno != EPERM)
            return lastErrno();
        if (::fchmod(fd_, static_cast<mode_t>(attributes.native & 07777)) != 0)
            return lastErrno();
        return 0;
    }

  private:
    int fd_;
    bool positioned_;
    std::uint64_t position_ = 0;
};

// Record locks as xBase programs take them (fcntl/lockf) count as much as whole-file ones.
// Open-file-description locks are used where the system has them: a classic lock would be
// dropped as soon as this process closed any other descriptor of the same file.
ErrorCode takeRecordLock(int fd, bool exclusive, bool writable) {
#ifdef F_OFD_SETLK
    const int getLock = F_OFD_GETLK;
    const int setLock = F_OFD_SETLK;
#else
    const int getLock = F_GETLK;
    const int setLock = F_SETLK;
#endif
    // Held as a read lock at least: no other program can take a write lock meanwhile.
    const short held = exclusive && writable ? F_WRLCK : F_RDLCK;
    // Only a lock weaker than the access asked for needs a look first: taking the lock
    // fails on whatever stands in its way.
    if (exclusive && held != F_WRLCK) {
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        if (::fcntl(fd, getLock, &probe) == 0 && probe.l_type != F_UNLCK)
            return EWOULDBLOCK;
    }
    struct flock hold {};
    hold.l_type = held;
    hold.l_whence = SEEK_SET;
    if (::fcntl(fd, setLock, &hold) != 0 && (errno == EAGAIN || errno == EACCES))
        return EWOULDBLOCK;
    // File systems without record locks: the whole-file lock has to do.
    return 0;
}

// Read without being changed where the system tells it: setting it to 0 for a moment would
// let a file another thread creates meanwhile escape it.
mode_t currentUmask() {
    if (std::FILE *status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    static std::mutex changing;
    std::lock_guard<std::mutex> hold(changing);
    mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// Seeded once a thread: opening the system's entropy source for every name cost more than
// the file it named.
std::mt19937_64 &threadDraw() {
    thread_local std::mt19937_64 draw([] {
        std::random_device entropy;
        return (std::uint64_t{entropy()} << 32) ^ entropy();
    }());
    return draw;
}

int openFlags(const OpenRequest &request) {
    // Non-blocking, so that a FIFO is refused instead of waiting for a writer for ever.
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY |
                (request.access == Access::ReadWrite ? O_RDWR : O_RDONLY);
    if (!request.followLinks)
        flags |= O_NOFOLLOW;
    switch (request.disposition) {
    case Disposition::OpenExisting:
        break;
    case Disposition::OpenAlways:
    case Disposition::CreateAlways:
        flags |= O_CREAT;
        break;
    case Disposition::CreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
    }
    return flags;
}

class PosixPlatform final : public Platform {
  public:
    OpenResult openFile(const std::string &path, const OpenRequest &request) override {
        // Examined before opening: opening some devices has effects of its own. A link is
        // looked at itself where it is not to be followed: the open refuses it anyway.
        // A new name opens nothing that is there already: it is looked at only when taken.
        const bool createNew = request.disposition == Disposition::CreateNew;
        struct stat st {};
        auto examine = [&] {
            return request.followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
        };
        auto special = [&] {
            return !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode);
        };
        if (request.regularOnly && !createNew) {
            int examined = examine();
            if (examined == 0 && special())
                return {nullptr, notRegularFileCode};
            // Nothing there: the open would say the same, at the cost of another look-up
            // (several checks a table look for files that are seldom there).
            if (examined != 0 && errno == ENOENT &&
                request.disposition == Disposition::OpenExisting)
                return {nullptr, ENOENT};
        }
        int fd = ::open(path.c_str(), openFlags(request), 0666);
        if (fd < 0) {
            ErrorCode error = lastErrno();
            if (error == ELOOP && !request.followLinks)
                error = linkRefusedCode;
            if (error == EEXIST && createNew && request.regularOnly && examine() == 0 && special())
                error = notRegularFileCode;
            return {nullptr, error};
        }
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd);
            return {nullptr, EISDIR};
        }
        if (request.regularOnly && !S_ISREG(st.st_mode)) {
            ::close(fd);
            return {nullptr, notRegularFileCode};
        }
        // The flags are the ones it was opened with: only the wait for a device was unwanted.
        ::fcntl(fd, F_SETFL, openFlags(request) & ~O_NONBLOCK);
        // The lock comes before any truncation, so that a file held by someone else is
        // never emptied.
        int lockKind = request.share == Share::None ? LOCK_EX : LOCK_SH;
        if (::flock(fd, lockKind | LOCK_NB) != 0) {
            ErrorCode error = lastErrno();
            ::close(fd);
            return {nullptr, error == EWOULDBLOCK ? EWOULDBLOCK : error};
        }
        if (S_ISREG(st.st_mode)) {
            if (ErrorCode error = takeRecordLock(fd, request.share == Share::None,
                                                 request.access == Access::ReadWrite)) {
                ::close(fd);
                return {nullptr, error};
            }
        }
        // Truncating an empty file is not free on every file system: skip it.
        if (request.disposition == Disposition::CreateAlways &&
            !(::fstat(fd, &st) == 0 && st.st_size == 0) && ::ftruncate(fd, 0) != 0) {
            ErrorCode error = lastErrno();
            ::close(fd);
            return {nullptr, error};
        }
        // The system reads this far ahead of a small file anyway.
        constexpr off_t readAheadCovers = 128 << 10;
        if (request.sequentialScan && st.st_size > readAheadCovers)
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        return {std::make_unique<PosixFile>(fd, S_ISREG(st.st_mode)), 0};
    }

    std::optional<FileAttributes> getAttributes(const std::string &path,
                                                ErrorCode *error) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (error)
                *error = lastErrno();
            return std::nullopt;
        }
        FileAttributes attributes;
        attributes.native = st.st_mode & 07777;
        attributes.hasOwner = true;
        attributes.owner = st.st_uid;
        attributes.group = st.st_gid;
        attributes.readOnly = (st.st_mode & 0222) == 0;
        attributes.isDirectory = S_ISDIR(st.st_mode);
        return attributes;
    }

    ErrorCode setAttributes(const std::string &path, const FileAttributes &attributes) override {
        if (::chmod(path.c_str(), static_cast<mode_t>(attributes.native)) != 0)
            return lastErrno();
        return 0;
    }

    ErrorCode setReadOnly(const std::string &path, bool readOnly) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0)
            return lastErrno();
        mode_t mode = st.st_mode & 07777;
        if (readOnly) {
            mode &= ~static_cast<mode_t>(0222);
        } else if ((mode & 0222) == 0) {
            // Give write permission back to whoever may read it, as clearing the
            // attribute does on Windows.
            mode |= ((mode & 0444) >> 1) | S_IWUSR;
        }
        if (::chmod(path.c_str(), mode) != 0)
            return lastErrno();
        return 0;
    }

    ErrorCode copyFile(const std::string &from, const std::string &to) override {
        OpenResult in =
            openFile(from, {Access::Read, Share::Read, Disposition::OpenExisting, true});
        if (!in)
            return in.error;
        OpenResult out =
            openFile(to, {Access::ReadWrite, Share::None, Disposition::CreateAlways, true});
        if (!out)
            return out.error;
        // Sized to the file and left unfilled: most copies are small, and zeroing a buffer of
        // a mebibyte for each cost more than the copy.
        constexpr std::uint64_t largest = 1 << 20;
        std::size_t size = static_cast<std::size_t>(
            std::clamp<std::uint64_t>(in.file->size().value_or(largest) + 1, 1, largest));
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
        for (;;) {
            IoResult got = in.file->read(buffer.get(), size);
            if (!got.ok())
                return got.error;
            if (got.bytes == 0)
                break;
            IoResult put = out.file->write(buffer.get(), got.bytes);
            if (!put.ok())
                return put.error;
        }
        return out.file->flush();
    }

    ErrorCode removeFile(const std::string &path) override {
        if (::unlink(path.c_str()) != 0)
            return lastErrno();
        return 0;
    }

    ErrorCode renameFile(const std::string &from, const std::string &to) override {
        // Atomic: a crash leaves either name's old or new file, never a mix. The folder is
        // not synced: the file itself was, and losing the rename only brings back the old one.
        if (::rename(from.c_str(), to.c_str()) != 0)
            return lastErrno();
        return 0;
    }

    std::string tempFolder() override {
        const char *tmp = std::getenv("TMPDIR");
        std::string folder = (tmp && *tmp) ? tmp : "/tmp";
        if (!isPathSeparator(folder.back()))
            folder += '/';
        return folder;
    }

    std::optional<std::string> createUniqueFile(const std::string &folder,
                                                const std::string &prefix,
                                                ErrorCode *error) override {
        // Not mkstemp: its 0600 mode would stick to a result that is renamed into place.
        static std::atomic<std::uint64_t> counter{0};
        std::mt19937_64 &draw = threadDraw();
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::uint64_t salt = draw() ^ ++counter;
            char suffix[17];
            std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(salt));
            std::string path = joinPath(folder, prefix + suffix + ".tmp");
            int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                return path;
            }
            if (errno != EEXIST) {
                if (error)
                    *error = lastErrno();
                return std::nullopt;
            }
        }
        if (error)
            *error = EEXIST;
        return std::nullopt;
    }

    OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                              std::string &path) override {
        static const char letters[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        std::mt19937_64 &draw = threadDraw();
        ErrorCode failure = EEXIST;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = prefix;
            for (int i = 0; i < 6; ++i)
                name += letters[draw() % (sizeof letters - 1)];
            std::string candidate = joinPath(folder, name);
            // O_EXCL never follows a link, not even one planted under the chosen name.
            int fd =
                ::open(candidate.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd < 0) {
                failure = lastErrno();
                if (failure != EEXIST)
                    break;
                continue;
            }
            ::flock(fd, LOCK_EX | LOCK_NB);
            path = candidate;
            return {std::make_unique<PosixFile>(fd, true), 0};
        }
        return {nullptr, failure};
    }

    bool attributesGoWithHandle() override { return true; }

    FileAttributes newFileAttributes() override {
        mode_t mask = currentUmask();
        FileAttributes attributes;
        attributes.native = 0666 & ~mask;
        attributes.readOnly = (attributes.native & 0222) == 0;
        return attributes;
    }

    std::optional<FileIdentity> identity(const std::string &path, ErrorCode *error) override {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (error)
                *error = lastErrno();
            return std::nullopt;
        }
        return FileIdentity{static_cast<std::uint64_t>(st.st_dev),
                            static_cast<std::uint64_t>(st.st_ino)};
    }

    bool isSymbolicLink(const std::string &path) override {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    }

    EntryKind entryKind(const std::string &path) override {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            return EntryKind::Missing;
        return S_ISLNK(st.st_mode) ? EntryKind::Link : EntryKind::Other;
    }

    std::string currentDirectory() override {
        std::vector<char> buffer(4096);
        while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
            if (errno != ERANGE)
                return ".";
            buffer.resize(buffer.size() * 2);
        }
        return std::string(buffer.data());
    }

    std::string resolvedPath(const std::string &path) override {
        char *resolved = ::realpath(path.c_str(), nullptr);
        if (!resolved)
            return path;
        std::string result(resolved);
        std::free(resolved);
        return result;
    }

    std::optional<bool> sameFile(const std::string &a, const std::string &b) override {
        struct stat sa {
        }, sb{};
        if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
            return std::nullopt;
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    }

    ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                            std::vector<DirectoryEntry> &entries) override {
        entries.clear();
        DIR *dir = ::opendir(folder.empty() ? "." : folder.c_str());
        if (!dir)
            return lastErrno();
        while (dirent *entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            if (!wildcardMatch(pattern, name))
                continue;
            DirectoryEntry item;
            item.name = std::move(name);
            // The kind the folder itself records spares a look at each of thousands of files.
            if (entry->d_type == DT_REG || entry->d_type == DT_DIR) {
                item.isDirectory = entry->d_type == DT_DIR;
                entries.push_back(std::move(item));
                continue;
            }
            struct stat st {};
            std::string full = joinPath(folder, item.name);
            if (::lstat(full.c_str(), &st) == 0) {
                item.isSymlink = S_ISLNK(st.st_mode);
                if (item.isSymlink) {
                    struct stat target {};
                    item.isDirectory =
                        ::stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
                } else {
                    item.isDirectory = S_ISDIR(st.st_mode);
                }
            }
            entries.push_back(std::move(item));
        }
        ::closedir(dir);
        sortListing(entries);
        return 0;
    }

    LocalTime localTime() override {
        std::time_t now = std::time(nullptr);
        std::tm parts{};
        ::localtime_r(&now, &parts);
        return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                         parts.tm_hour,        parts.tm_min,     parts.tm_sec};
    }

    std::string errorText(ErrorCode code) override {
        // The lock that stands for Windows' sharing modes: say what it means to the user.
        if (code == EWOULDBLOCK)
            return "The file is in use by another program.";
        if (code == notRegularFileCode)
            return "not a regular file";
        if (code == linkRefusedCode)
            return "refused: the name is a symbolic link";
        char buffer[256];
        // GNU strerror_r may return a static string instead of filling the buffer.
        auto result = ::strerror_r(code, buffer, sizeof buffer);
        if constexpr (std::is_same_v<decltype(result), char *>)
            return std::string(result);
        else
            return result == 0 ? std::string(buffer) : "Unknown error " + std::to_string(code);
    }
};

} // namespace

// The thread sanitizer takes a descriptor to be the process's: with tables of their own, it
// reports races between threads on numbers that are different files, and loses its own pipes.
#if defined(__SANITIZE_THREAD__)
#define SALVORA_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SALVORA_THREAD_SANITIZER 1
#endif
#endif

void ownFileTableForThisThread() {
#if defined(__linux__) && !defined(SALVORA_THREAD_SANITIZER)
    // Without it the process goes on sharing one table, as before.
    ::unshare(CLONE_FILES);
#endif
}

Platform &nativePlatform() {
    static PosixPlatform platform;
    return platform;
}

} // namespace salvora::platform
