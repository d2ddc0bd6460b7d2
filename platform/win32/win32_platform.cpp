#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include <windows.h>

namespace salvora::platform {

ErrorCode errorFileNotFound() {
    return ERROR_FILE_NOT_FOUND;
}
ErrorCode errorSharingViolation() {
    return ERROR_SHARING_VIOLATION;
}
ErrorCode errorDiskFull() {
    return ERROR_DISK_FULL;
}
ErrorCode errorNameTooLong() {
    return ERROR_FILENAME_EXCED_RANGE;
}
ErrorCode errorInvalidArgument() {
    return ERROR_INVALID_PARAMETER;
}

// Codes of the application's own (bit 29), which the system never reports.
constexpr ErrorCode notRegularFileCode = 0x20005A01;
constexpr ErrorCode linkRefusedCode = 0x20005A02;

ErrorCode errorNotRegularFile() {
    return notRegularFileCode;
}
ErrorCode errorLinkRefused() {
    return linkRefusedCode;
}

namespace {

ErrorCode lastError() {
    DWORD code = ::GetLastError();
    return code != 0 ? static_cast<ErrorCode>(code) : static_cast<ErrorCode>(ERROR_GEN_FAILURE);
}

// The ANSI calls go through a MAX_PATH buffer; a longer name must be refused here rather than
// reach the system, and an embedded NUL would silently shorten it.
ErrorCode checkPath(const std::string &path) {
    if (path.find('\0') != std::string::npos)
        return ERROR_INVALID_NAME;
    if (path.size() < MAX_PATH)
        return 0;
    if (path.size() > 0x10000)
        return ERROR_FILENAME_EXCED_RANGE;
    // Multibyte code pages can hold more than MAX_PATH bytes in fewer characters.
    UINT codePage = ::AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    int wide =
        ::MultiByteToWideChar(codePage, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    if (wide <= 0 || wide >= MAX_PATH)
        return ERROR_FILENAME_EXCED_RANGE;
    return 0;
}

class UniqueHandle {
  public:
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() {
        if (valid())
            ::CloseHandle(handle_);
    }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

  private:
    HANDLE handle_;
};

class FindHandle {
  public:
    explicit FindHandle(HANDLE handle) : handle_(handle) {}
    ~FindHandle() { ::FindClose(handle_); }
    FindHandle(const FindHandle &) = delete;
    FindHandle &operator=(const FindHandle &) = delete;

  private:
    HANDLE handle_;
};

// INVALID_HANDLE_VALUE and `error` set on failure.
HANDLE openRaw(const std::string &path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
               ErrorCode &error) {
    error = checkPath(path);
    if (error != 0)
        return INVALID_HANDLE_VALUE;
    HANDLE handle = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                  flags | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        error = lastError();
    return handle;
}

// 100 ns ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;

// A zero FILETIME means "not recorded". It maps to the lowest FileTime and back, and
// SetFileTime reads zero as "leave unchanged", so a read-then-restore round trip is harmless.
FileTime fromFiletime(const FILETIME &ft) {
    std::uint64_t raw = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    if (raw == 0)
        return FileTime{INT64_MIN};
    if (raw > static_cast<std::uint64_t>(INT64_MAX))
        raw = static_cast<std::uint64_t>(INT64_MAX);
    std::int64_t ticks = static_cast<std::int64_t>(raw) - kUnixEpochTicks;
    if (ticks > INT64_MAX / 100)
        return FileTime{INT64_MAX / 100 * 100};
    if (ticks < INT64_MIN / 100)
        return FileTime{INT64_MIN / 100 * 100};
    return FileTime{ticks * 100};
}

FILETIME toFiletime(FileTime t) {
    FILETIME ft{};
    if (t.nanoseconds == INT64_MIN)
        return ft;
    std::int64_t ticks = t.nanoseconds / 100;
    if (t.nanoseconds % 100 < 0)
        --ticks;
    ticks += kUnixEpochTicks;
    // Before 1601 cannot be expressed; leave such a time as it is.
    if (ticks <= 0)
        return ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    return ft;
}

// Huge single requests can fail with ERROR_NO_SYSTEM_RESOURCES on network shares.
constexpr std::size_t kIoChunk = std::size_t{16} << 20;

class Win32File final : public FileHandle {
  public:
    Win32File(HANDLE handle, bool writable) : handle_(handle), writable_(writable) {}
    ~Win32File() override { ::CloseHandle(handle_); }

    IoResult read(void *buffer, std::size_t size) override {
        IoResult result;
        auto *out = static_cast<unsigned char *>(buffer);
        while (result.bytes < size) {
            DWORD want = static_cast<DWORD>(std::min(size - result.bytes, kIoChunk));
            DWORD got = 0;
            if (!::ReadFile(handle_, out + result.bytes, want, &got, nullptr)) {
                ErrorCode error = lastError();
                if (error != ERROR_HANDLE_EOF)
                    result.error = error;
                break;
            }
            if (got == 0)
                break;
            result.bytes += got;
        }
        return result;
    }

    IoResult write(const void *data, std::size_t size) override {
        IoResult result;
        const auto *in = static_cast<const unsigned char *>(data);
        while (result.bytes < size) {
            DWORD want = static_cast<DWORD>(std::min(size - result.bytes, kIoChunk));
            DWORD put = 0;
            if (!::WriteFile(handle_, in + result.bytes, want, &put, nullptr)) {
                result.error = lastError();
                break;
            }
            if (put == 0) {
                result.error = ERROR_DISK_FULL;
                break;
            }
            result.bytes += put;
        }
        return result;
    }

    ErrorCode seek(std::uint64_t offset) override {
        if (offset > static_cast<std::uint64_t>(INT64_MAX))
            return ERROR_INVALID_PARAMETER;
        LARGE_INTEGER target;
        target.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(handle_, target, nullptr, FILE_BEGIN))
            return lastError();
        return 0;
    }

    std::optional<std::uint64_t> size(ErrorCode *error) override {
        LARGE_INTEGER bytes;
        if (!::GetFileSizeEx(handle_, &bytes)) {
            if (error)
                *error = lastError();
            return std::nullopt;
        }
        return static_cast<std::uint64_t>(bytes.QuadPart);
    }

    ErrorCode setEnd() override {
        if (!::SetEndOfFile(handle_))
            return lastError();
        return 0;
    }

    ErrorCode flush() override {
        // FlushFileBuffers needs write access; a read-only handle has nothing to push.
        if (!writable_)
            return 0;
        if (!::FlushFileBuffers(handle_))
            return lastError();
        return 0;
    }

    ErrorCode getTimes(FileTimes &times) override {
        FILETIME creation{}, access{}, write{};
        if (!::GetFileTime(handle_, &creation, &access, &write))
            return lastError();
        times.creation = fromFiletime(creation);
        times.lastAccess = fromFiletime(access);
        times.lastWrite = fromFiletime(write);
        return 0;
    }

    ErrorCode setTimes(const FileTimes &times) override {
        FILETIME creation = toFiletime(times.creation);
        FILETIME access = toFiletime(times.lastAccess);
        FILETIME write = toFiletime(times.lastWrite);
        if (!::SetFileTime(handle_, &creation, &access, &write))
            return lastError();
        return 0;
    }

  private:
    HANDLE handle_;
    bool writable_;
};

// The attributes SetFileAttributes accepts; the others (directory, compressed, sparse...)
// belong to the file system.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY |
                                      FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

ErrorCode applyAttributes(const std::string &path, DWORD attributes) {
    attributes &= kSettableAttributes;
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;
    else if (attributes != FILE_ATTRIBUTE_NORMAL)
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL);
    if (!::SetFileAttributesA(path.c_str(), attributes))
        return lastError();
    return 0;
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

std::uint64_t uniqueSeed() {
    LARGE_INTEGER counter{};
    ::QueryPerformanceCounter(&counter);
    return mix(static_cast<std::uint64_t>(counter.QuadPart) ^
               (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64());
}

std::string hex8(std::uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text(8, '0');
    for (int i = 7; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = digits[value & 0xF];
        value >>= 4;
    }
    return text;
}

class Win32Platform final : public Platform {
  public:
    OpenResult openFile(const std::string &path, const OpenRequest &request) override {
        bool writable = request.access == Access::ReadWrite;
        DWORD access = writable ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
        DWORD share = 0;
        switch (request.share) {
        case Share::None:
            break;
        case Share::Read:
            share = FILE_SHARE_READ;
            break;
        case Share::ReadWrite:
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
            break;
        }
        DWORD disposition = OPEN_EXISTING;
        switch (request.disposition) {
        case Disposition::OpenExisting:
            break;
        case Disposition::OpenAlways:
            disposition = OPEN_ALWAYS;
            break;
        case Disposition::CreateAlways:
            disposition = CREATE_ALWAYS;
            break;
        case Disposition::CreateNew:
            disposition = CREATE_NEW;
            break;
        }
        DWORD flags = request.sequentialScan ? FILE_FLAG_SEQUENTIAL_SCAN : 0;
        if (!request.followLinks)
            flags |= FILE_FLAG_OPEN_REPARSE_POINT;
        ErrorCode error = 0;
        UniqueHandle handle(openRaw(path, access, share, disposition, flags, error));
        if (!handle.valid())
            return {nullptr, error};
        // Reserved device names (CON, NUL, COM1...) open anywhere; never read or write one as
        // if it were a table.
        if (request.regularOnly && ::GetFileType(handle.get()) != FILE_TYPE_DISK)
            return {nullptr, notRegularFileCode};
        if (!request.followLinks) {
            BY_HANDLE_FILE_INFORMATION info{};
            if (::GetFileInformationByHandle(handle.get(), &info) &&
                (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                return {nullptr, linkRefusedCode};
        }
        return {std::make_unique<Win32File>(handle.release(), writable), 0};
    }

    std::optional<FileAttributes> getAttributes(const std::string &path,
                                                ErrorCode *error) override {
        ErrorCode bad = checkPath(path);
        DWORD native = INVALID_FILE_ATTRIBUTES;
        if (bad == 0) {
            native = ::GetFileAttributesA(path.c_str());
            if (native == INVALID_FILE_ATTRIBUTES)
                bad = lastError();
        }
        if (bad != 0) {
            if (error)
                *error = bad;
            return std::nullopt;
        }
        FileAttributes attributes;
        attributes.native = native;
        attributes.readOnly = (native & FILE_ATTRIBUTE_READONLY) != 0;
        attributes.isDirectory = (native & FILE_ATTRIBUTE_DIRECTORY) != 0;
        return attributes;
    }

    ErrorCode setAttributes(const std::string &path, const FileAttributes &attributes) override {
        if (ErrorCode error = checkPath(path))
            return error;
        return applyAttributes(path, attributes.native);
    }

    ErrorCode setReadOnly(const std::string &path, bool readOnly) override {
        if (ErrorCode error = checkPath(path))
            return error;
        DWORD native = ::GetFileAttributesA(path.c_str());
        if (native == INVALID_FILE_ATTRIBUTES)
            return lastError();
        if (readOnly)
            native |= FILE_ATTRIBUTE_READONLY;
        else
            native &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        return applyAttributes(path, native);
    }

    ErrorCode copyFile(const std::string &from, const std::string &to) override {
        if (ErrorCode error = checkPath(from))
            return error;
        if (ErrorCode error = checkPath(to))
            return error;
        if (!::CopyFileA(from.c_str(), to.c_str(), FALSE))
            return lastError();
        // CopyFileA carries the source's read-only flag over; the copy is ours to work on.
        DWORD native = ::GetFileAttributesA(to.c_str());
        if (native == INVALID_FILE_ATTRIBUTES)
            return lastError();
        if (native & FILE_ATTRIBUTE_READONLY) {
            if (ErrorCode error =
                    applyAttributes(to, native & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
                return error;
        }
        // The copy may be the only safe version of a table about to be rewritten: make it
        // durable before reporting success.
        ErrorCode error = 0;
        UniqueHandle copy(openRaw(to, GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, 0, error));
        if (!copy.valid())
            return error;
        if (!::FlushFileBuffers(copy.get()))
            return lastError();
        return 0;
    }

    ErrorCode removeFile(const std::string &path) override {
        if (ErrorCode error = checkPath(path))
            return error;
        if (!::DeleteFileA(path.c_str()))
            return lastError();
        return 0;
    }

    ErrorCode renameFile(const std::string &from, const std::string &to) override {
        if (ErrorCode error = checkPath(from))
            return error;
        if (ErrorCode error = checkPath(to))
            return error;
        // Windows refuses to replace a read-only file: the flag is lifted for the rename
        // only, and put back when the rename fails.
        DWORD old = ::GetFileAttributesA(to.c_str());
        bool lifted = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) != 0 &&
                      (old & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
                      ::SetFileAttributesA(to.c_str(),
                                           old & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) != 0;
        if (!::MoveFileExA(from.c_str(), to.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            ErrorCode error = lastError();
            if (lifted)
                ::SetFileAttributesA(to.c_str(), old);
            return error;
        }
        return 0;
    }

    std::string tempFolder() override {
        std::string buffer(MAX_PATH + 1, '\0');
        for (;;) {
            DWORD length = ::GetTempPathA(static_cast<DWORD>(buffer.size()), buffer.data());
            if (length == 0) {
                buffer = currentDirectory();
                break;
            }
            if (length < buffer.size()) {
                buffer.resize(length);
                break;
            }
            buffer.resize(length);
        }
        if (buffer.empty() || !isPathSeparator(buffer.back()))
            buffer += '\\';
        return buffer;
    }

    std::optional<std::string> createUniqueFile(const std::string &folder,
                                                const std::string &prefix,
                                                ErrorCode *error) override {
        static std::atomic<std::uint64_t> counter{0};
        std::uint64_t seed = uniqueSeed();
        ErrorCode failure = ERROR_FILE_EXISTS;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::uint64_t value = mix(seed ^ counter.fetch_add(1, std::memory_order_relaxed));
            std::string candidate =
                joinPath(folder, prefix + hex8(static_cast<std::uint32_t>(value)) + ".tmp");
            UniqueHandle created(
                openRaw(candidate, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, 0, failure));
            if (created.valid())
                return candidate;
            // A directory or a file pending deletion under that name reports access denied.
            if (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS &&
                failure != ERROR_ACCESS_DENIED)
                break;
        }
        if (error)
            *error = failure;
        return std::nullopt;
    }

    OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                              std::string &path) override {
        static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
        static std::atomic<std::uint64_t> counter{0};
        std::uint64_t seed = uniqueSeed();
        ErrorCode failure = ERROR_FILE_EXISTS;
        for (int attempt = 0; attempt < 1000; ++attempt) {
            std::uint64_t value = mix(seed ^ counter.fetch_add(1, std::memory_order_relaxed));
            std::string name = prefix;
            for (int i = 0; i < 6; ++i, value /= 36)
                name += letters[value % 36];
            std::string candidate = joinPath(folder, name);
            // No read or write sharing: that is the lock a cleaner tests.
            UniqueHandle created(openRaw(candidate, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE,
                                         CREATE_NEW, 0, failure));
            if (created.valid()) {
                path = candidate;
                return {std::make_unique<Win32File>(created.release(), true), 0};
            }
            if (failure != ERROR_FILE_EXISTS && failure != ERROR_ALREADY_EXISTS &&
                failure != ERROR_ACCESS_DENIED)
                break;
        }
        return {nullptr, failure};
    }

    // A file held open cannot be replaced by a rename, whatever its share mode.
    bool replacesOpenFiles() override { return false; }

    std::optional<FileIdentity> identity(const std::string &path, ErrorCode *error) override {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!identify(path, info)) {
            if (error)
                *error = lastError();
            return std::nullopt;
        }
        return FileIdentity{info.dwVolumeSerialNumber,
                            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
    }

    bool isSymbolicLink(const std::string &path) override {
        if (checkPath(path) != 0)
            return false;
        WIN32_FIND_DATAA data{};
        HANDLE search = ::FindFirstFileA(path.c_str(), &data);
        if (search == INVALID_HANDLE_VALUE)
            return false;
        FindHandle closer(search);
        return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
               IsReparseTagNameSurrogate(data.dwReserved0);
    }

    std::string currentDirectory() override {
        std::string buffer(MAX_PATH, '\0');
        for (;;) {
            DWORD length = ::GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
            if (length == 0)
                return ".";
            if (length < buffer.size()) {
                buffer.resize(length);
                return buffer;
            }
            buffer.resize(length);
        }
    }

    std::optional<bool> sameFile(const std::string &a, const std::string &b) override {
        BY_HANDLE_FILE_INFORMATION infoA{}, infoB{};
        if (!identify(a, infoA) || !identify(b, infoB))
            return std::nullopt;
        return infoA.dwVolumeSerialNumber == infoB.dwVolumeSerialNumber &&
               infoA.nFileIndexHigh == infoB.nFileIndexHigh &&
               infoA.nFileIndexLow == infoB.nFileIndexLow;
    }

    ErrorCode listDirectory(const std::string &folder, const std::string &pattern,
                            std::vector<DirectoryEntry> &entries) override {
        entries.clear();
        std::string query = joinPath(folder.empty() ? "." : folder, "*");
        if (ErrorCode error = checkPath(query))
            return error;
        WIN32_FIND_DATAA data{};
        HANDLE search = ::FindFirstFileA(query.c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) {
            ErrorCode error = lastError();
            // A drive root has no "." entry, so an empty one reports no match at all.
            return error == ERROR_FILE_NOT_FOUND ? 0 : error;
        }
        FindHandle closer(search);
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..")
                continue;
            // '?' cannot occur in a real name: the long name does not fit the ANSI code page.
            // The short name, when there is one, still opens the file.
            if (name.find('?') != std::string::npos) {
                if (data.cAlternateFileName[0] == '\0')
                    continue;
                name = data.cAlternateFileName;
            }
            if (!wildcardMatch(pattern, name))
                continue;
            DirectoryEntry item;
            item.name = name;
            item.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            // Symbolic links and junctions stand for another name; other reparse points
            // (deduplicated or cloud files) are ordinary entries.
            item.isSymlink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                             IsReparseTagNameSurrogate(data.dwReserved0);
            entries.push_back(std::move(item));
        } while (::FindNextFileA(search, &data));
        ErrorCode error = lastError();
        if (error != ERROR_NO_MORE_FILES) {
            entries.clear();
            return error;
        }
        sortListing(entries);
        return 0;
    }

    LocalTime localTime() override {
        SYSTEMTIME now{};
        ::GetLocalTime(&now);
        return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
    }

    std::string errorText(ErrorCode code) override {
        if (code == notRegularFileCode)
            return "not a regular file";
        if (code == linkRefusedCode)
            return "refused: the name is a symbolic link";
        char *text = nullptr;
        DWORD length = ::FormatMessageA(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
            reinterpret_cast<LPSTR>(&text), 0, nullptr);
        if (length == 0 || text == nullptr)
            return "Unknown error " + std::to_string(code);
        std::string message(text, length);
        ::LocalFree(text);
        while (!message.empty() &&
               (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
            message.pop_back();
        return message;
    }

  private:
    static bool identify(const std::string &path, BY_HANDLE_FILE_INFORMATION &info) {
        // Backup semantics so that folders can be compared too; sharing everything so that
        // a file held open elsewhere can still be identified.
        ErrorCode error = 0;
        UniqueHandle handle(openRaw(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, error));
        return handle.valid() && ::GetFileInformationByHandle(handle.get(), &info);
    }
};

} // namespace

void ownFileTableForThisThread() {}

Platform &nativePlatform() {
    static Win32Platform platform;
    return platform;
}

} // namespace salvora::platform
