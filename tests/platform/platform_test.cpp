// The native platform and the path helpers, on real files; and the fault-injecting wrapper
// the engine tests rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/faultplatform.h"
#include "tests/support/tablebuilder.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace salvora {
namespace {

using namespace platform;
using testing::Bytes;
using testing::bytesOf;
using testing::fileExists;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

[[maybe_unused]] Platform &os() {
    return nativePlatform();
}

[[maybe_unused]] OpenRequest request(Access access, Share share, Disposition disposition) {
    return OpenRequest{access, share, disposition, false};
}

[[maybe_unused]] std::string readAll(FileHandle &file) {
    EXPECT_EQ(file.seek(0), 0);
    std::string text(4096, '\0');
    IoResult got = file.read(text.data(), text.size());
    EXPECT_TRUE(got.ok());
    text.resize(got.bytes);
    return text;
}

[[maybe_unused]] std::vector<std::string> namesOf(const std::vector<DirectoryEntry> &entries) {
    std::vector<std::string> names;
    for (const auto &entry : entries)
        names.push_back(entry.name);
    return names;
}

[[maybe_unused]] const DirectoryEntry *findEntry(const std::vector<DirectoryEntry> &entries,
                                                 const std::string &name) {
    for (const auto &entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

// --- Opening and sharing -------------------------------------------------------------------

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ExclusiveOpenFailsWhileAnotherHandleHoldsTheFileExclusively) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("data"));
    OpenResult first =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    ASSERT_TRUE(first) << first.error;
    OpenResult second =
        os().openFile(path, request(Access::Read, Share::None, Disposition::OpenExisting));
    EXPECT_FALSE(second);
    EXPECT_EQ(second.error, errorSharingViolation());
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ExclusiveOpenFailsWhileAnotherHandleSharesTheFile) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("data"));
    OpenResult first = os().openFile(
        path, request(Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
    ASSERT_TRUE(first) << first.error;
    OpenResult second =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    EXPECT_FALSE(second);
    EXPECT_EQ(second.error, errorSharingViolation());
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, SharedOpenFailsWhileAnotherHandleHoldsTheFileExclusively) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("data"));
    OpenResult first =
        os().openFile(path, request(Access::Read, Share::None, Disposition::OpenExisting));
    ASSERT_TRUE(first) << first.error;
    OpenResult second =
        os().openFile(path, request(Access::Read, Share::ReadWrite, Disposition::OpenExisting));
    EXPECT_FALSE(second);
    EXPECT_EQ(second.error, errorSharingViolation());
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, CreateAlwaysRefusedByALockLeavesTheContentUntruncated) {
    for (Share held : {Share::None, Share::Read, Share::ReadWrite}) {
        TempDir dir;
        std::string path = dir.file("t.dbf");
        writeFile(path, bytesOf("precious content"));
        OpenResult holder =
            os().openFile(path, request(Access::Read, held, Disposition::OpenExisting));
        ASSERT_TRUE(holder) << holder.error;
        OpenResult creator =
            os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::CreateAlways));
        EXPECT_FALSE(creator) << "share " << static_cast<int>(held);
        EXPECT_EQ(creator.error, errorSharingViolation());
        EXPECT_EQ(readFile(path), bytesOf("precious content"));
        EXPECT_EQ(readAll(*holder.file), "precious content");
    }
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, SharedOpensCoexistAndSeeEachOthersWrites) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("abc"));
    OpenResult reader =
        os().openFile(path, request(Access::Read, Share::ReadWrite, Disposition::OpenExisting));
    OpenResult writer = os().openFile(
        path, request(Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting));
    OpenResult third =
        os().openFile(path, request(Access::Read, Share::Read, Disposition::OpenExisting));
    ASSERT_TRUE(reader) << reader.error;
    ASSERT_TRUE(writer) << writer.error;
    ASSERT_TRUE(third) << third.error;
    ASSERT_EQ(writer.file->seek(1), 0);
    ASSERT_TRUE(writer.file->write("X", 1).ok());
    EXPECT_EQ(readAll(*reader.file), "aXc");
    EXPECT_EQ(readAll(*third.file), "aXc");
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ClosingTheHandleReleasesTheLock) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("abc"));
    {
        OpenResult first =
            os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
        ASSERT_TRUE(first);
    }
    OpenResult second =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    EXPECT_TRUE(second) << second.error;
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, DispositionsCreateTruncateOrRefuseAsAsked) {
    TempDir dir;
    std::string path = dir.file("t.dbf");

    OpenResult missing =
        os().openFile(path, request(Access::Read, Share::None, Disposition::OpenExisting));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error, errorFileNotFound());
    EXPECT_FALSE(fileExists(path));

    {
        OpenResult created =
            os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenAlways));
        ASSERT_TRUE(created) << created.error;
        EXPECT_EQ(created.file->size(), 0u);
        ASSERT_TRUE(created.file->write("hello", 5).ok());
    }
    {
        OpenResult again =
            os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenAlways));
        ASSERT_TRUE(again);
        EXPECT_EQ(again.file->size(), 5u);
    }
    OpenResult exists =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::CreateNew));
    EXPECT_FALSE(exists);
    EXPECT_EQ(exists.error, EEXIST);
    EXPECT_EQ(readFile(path), bytesOf("hello"));
    {
        OpenResult truncated =
            os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::CreateAlways));
        ASSERT_TRUE(truncated);
        EXPECT_EQ(truncated.file->size(), 0u);
    }
    EXPECT_TRUE(readFile(path).empty());
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, OpeningAFolderFails) {
    TempDir dir;
    OpenResult opened =
        os().openFile(dir.path(), request(Access::Read, Share::Read, Disposition::OpenExisting));
    EXPECT_FALSE(opened);
    EXPECT_NE(opened.error, 0);
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ReadsStopAtTheEndOfTheFileWithoutError) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("0123456789"));
    OpenResult file =
        os().openFile(path, request(Access::Read, Share::Read, Disposition::OpenExisting));
    ASSERT_TRUE(file);
    char buffer[16] = {};
    ASSERT_EQ(file.file->seek(6), 0);
    IoResult got = file.file->read(buffer, sizeof buffer);
    EXPECT_TRUE(got.ok());
    EXPECT_EQ(got.bytes, 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    got = file.file->read(buffer, sizeof buffer);
    EXPECT_TRUE(got.ok());
    EXPECT_EQ(got.bytes, 0u);
    ASSERT_EQ(file.file->seek(100), 0);
    got = file.file->read(buffer, sizeof buffer);
    EXPECT_TRUE(got.ok());
    EXPECT_EQ(got.bytes, 0u);
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, SetEndCutsAndExtendsAtThePosition) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("0123456789"));
    OpenResult file =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    ASSERT_TRUE(file);
    ASSERT_EQ(file.file->seek(4), 0);
    ASSERT_EQ(file.file->setEnd(), 0);
    EXPECT_EQ(file.file->size(), 4u);
    ASSERT_EQ(file.file->seek(6), 0);
    ASSERT_EQ(file.file->setEnd(), 0);
    EXPECT_EQ(file.file->size(), 6u);
    EXPECT_EQ(readFile(path), (Bytes{'0', '1', '2', '3', 0, 0}));
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, FileTimesRoundTrip) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("x"));
    OpenResult file =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    ASSERT_TRUE(file);
    FileTimes times;
    ASSERT_EQ(file.file->getTimes(times), 0);
    FileTimes wanted = times;
    wanted.lastWrite.nanoseconds = 1'000'000'000LL * 946'684'800 + 123'456'789; // 2000-01-01
    wanted.lastAccess.nanoseconds = 1'000'000'000LL * 978'307'200;              // 2001-01-01
    ASSERT_EQ(file.file->setTimes(wanted), 0);
    FileTimes back;
    ASSERT_EQ(file.file->getTimes(back), 0);
    EXPECT_EQ(back.lastWrite, wanted.lastWrite);
    EXPECT_EQ(back.lastAccess, wanted.lastAccess);
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, SixtyFourBitOffsetsOnASparseFile) {
    TempDir dir;
    std::string path = dir.file("big.dbf");
    const std::uint64_t far = 5ull << 30;
    {
        OpenResult file =
            os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::CreateAlways));
        ASSERT_TRUE(file);
        ASSERT_EQ(file.file->seek(far), 0);
        ASSERT_TRUE(file.file->write("Z", 1).ok());
        EXPECT_EQ(file.file->size(), far + 1);
    }
    OpenResult file =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    ASSERT_TRUE(file);
    EXPECT_EQ(file.file->size(), far + 1);
    char byte = 0;
    ASSERT_EQ(file.file->seek(far), 0);
    IoResult got = file.file->read(&byte, 1);
    ASSERT_TRUE(got.ok());
    ASSERT_EQ(got.bytes, 1u);
    EXPECT_EQ(byte, 'Z');
    // Just past 4 GiB: a hole, and a place a 32-bit offset would wrap back to the start.
    byte = 'q';
    ASSERT_EQ(file.file->seek((4ull << 30) + 1), 0);
    got = file.file->read(&byte, 1);
    ASSERT_EQ(got.bytes, 1u);
    EXPECT_EQ(byte, 0);
    ASSERT_EQ(file.file->seek((4ull << 30) + 10), 0);
    ASSERT_EQ(file.file->setEnd(), 0);
    EXPECT_EQ(file.file->size(), (4ull << 30) + 10);
}
#endif

// --- Attributes ----------------------------------------------------------------------------

#ifndef _WIN32
mode_t modeOf(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

bool runningAsRoot() {
    return ::geteuid() == 0;
}

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ReadOnlyMeansNoWritePermissionBits) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("x"));
    ASSERT_EQ(::chmod(path.c_str(), 0664), 0);
    ASSERT_EQ(os().setReadOnly(path, true), 0);
    EXPECT_EQ(modeOf(path), 0444u);
    auto attributes = os().getAttributes(path);
    ASSERT_TRUE(attributes);
    EXPECT_TRUE(attributes->readOnly);
    EXPECT_FALSE(attributes->isDirectory);

    OpenResult writer =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    // Root bypasses permission bits.
    if (!runningAsRoot()) {
        EXPECT_FALSE(writer);
        EXPECT_EQ(writer.error, EACCES);
    }
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ClearingReadOnlyRestoresWritability) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("x"));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(os().setReadOnly(path, false), 0);
    mode_t mode = modeOf(path);
    EXPECT_NE(mode & S_IWUSR, 0u);
    EXPECT_EQ(mode & 0111, 0u) << "no execute bit may appear";
    auto attributes = os().getAttributes(path);
    ASSERT_TRUE(attributes);
    EXPECT_FALSE(attributes->readOnly);
    OpenResult writer =
        os().openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    EXPECT_TRUE(writer) << writer.error;

    // A writable file stays exactly as it was.
    ASSERT_EQ(::chmod(path.c_str(), 0604), 0);
    ASSERT_EQ(os().setReadOnly(path, false), 0);
    EXPECT_EQ(modeOf(path), 0604u);
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, SetAttributesRestoresTheExactOriginalMode) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("x"));
    ASSERT_EQ(::chmod(path.c_str(), 0751), 0);
    auto original = os().getAttributes(path);
    ASSERT_TRUE(original);
    EXPECT_FALSE(original->readOnly);
    ASSERT_EQ(os().setReadOnly(path, true), 0);
    EXPECT_EQ(modeOf(path), 0551u);
    ASSERT_EQ(os().setReadOnly(path, false), 0);
    ASSERT_EQ(os().setAttributes(path, *original), 0);
    EXPECT_EQ(modeOf(path), 0751u);
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, AttributesOfAMissingFileReportNotFound) {
    TempDir dir;
    ErrorCode error = 0;
    EXPECT_FALSE(os().getAttributes(dir.file("missing"), &error));
    EXPECT_EQ(error, errorFileNotFound());
    auto folder = os().getAttributes(dir.path());
    ASSERT_TRUE(folder);
    EXPECT_TRUE(folder->isDirectory);
}
#endif

// --- Unique files, copy, rename, remove ------------------------------------------------------

class UmaskScope {
  public:
    explicit UmaskScope(mode_t mask) : saved_(::umask(mask)) {}
    ~UmaskScope() { ::umask(saved_); }

  private:
    mode_t saved_;
};

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, CreateUniqueFileMakesDistinctEmptyFilesThatHonourTheUmask) {
    TempDir dir;
    for (mode_t mask : {mode_t{022}, mode_t{027}}) {
        UmaskScope scope(mask);
        std::set<std::string> seen;
        for (int i = 0; i < 20; ++i) {
            ErrorCode error = 0;
            auto path = os().createUniqueFile(dir.path(), "pre", &error);
            ASSERT_TRUE(path) << error;
            EXPECT_TRUE(seen.insert(*path).second) << *path;
            EXPECT_EQ(folderOf(*path), dir.path());
            EXPECT_EQ(path->compare(fileNameStart(*path), 3, "pre"), 0) << *path;
            EXPECT_TRUE(fileExists(*path));
            EXPECT_TRUE(readFile(*path).empty());
            EXPECT_EQ(modeOf(*path), 0666u & ~mask) << *path;
        }
    }
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, CreateUniqueFileInAMissingFolderFails) {
    TempDir dir;
    ErrorCode error = 0;
    EXPECT_FALSE(os().createUniqueFile(dir.file("nowhere"), "pre", &error));
    EXPECT_EQ(error, errorFileNotFound());
}
#endif
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, RenameReplacesTheTargetByTheSourceFile) {
    TempDir dir;
    std::string from = dir.file("new.tmp");
    std::string to = dir.file("t.dbf");
    writeFile(from, bytesOf("new content"));
    writeFile(to, bytesOf("old"));
    OpenResult oldHandle =
        os().openFile(to, request(Access::Read, Share::ReadWrite, Disposition::OpenExisting));
    ASSERT_TRUE(oldHandle);
    OpenResult newHandle =
        os().openFile(from, request(Access::Read, Share::ReadWrite, Disposition::OpenExisting));
    ASSERT_TRUE(newHandle);

    ASSERT_EQ(os().renameFile(from, to), 0);
    EXPECT_FALSE(fileExists(from));
    EXPECT_EQ(readFile(to), bytesOf("new content"));
    // The old file was replaced as a whole, not overwritten in place.
    EXPECT_EQ(readAll(*oldHandle.file), "old");
    EXPECT_EQ(readAll(*newHandle.file), "new content");
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, RenameOfAMissingFileLeavesTheTargetAlone) {
    TempDir dir;
    std::string to = dir.file("t.dbf");
    writeFile(to, bytesOf("keep"));
    EXPECT_EQ(os().renameFile(dir.file("missing"), to), errorFileNotFound());
    EXPECT_EQ(readFile(to), bytesOf("keep"));
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, CopyReplacesALongerTarget) {
    TempDir dir;
    writeFile(dir.file("a"), bytesOf("short"));
    writeFile(dir.file("b"), bytesOf("a much longer old content"));
    ASSERT_EQ(os().copyFile(dir.file("a"), dir.file("b")), 0);
    EXPECT_EQ(readFile(dir.file("b")), bytesOf("short"));
    EXPECT_EQ(readFile(dir.file("a")), bytesOf("short"));
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, CopyOntoItselfFailsWithoutDestroyingTheFile) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("precious"));
    EXPECT_NE(os().copyFile(path, path), 0);
    EXPECT_EQ(readFile(path), bytesOf("precious"));
#ifndef _WIN32
    std::string alias = dir.file("alias.dbf");
    ASSERT_EQ(::link(path.c_str(), alias.c_str()), 0);
    EXPECT_NE(os().copyFile(path, alias), 0);
    EXPECT_EQ(readFile(path), bytesOf("precious"));
#endif
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, CopyOfAMissingFileFails) {
    TempDir dir;
    EXPECT_EQ(os().copyFile(dir.file("missing"), dir.file("b")), errorFileNotFound());
    EXPECT_FALSE(fileExists(dir.file("b")));
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, RemoveFile) {
    TempDir dir;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("x"));
    EXPECT_EQ(os().removeFile(path), 0);
    EXPECT_FALSE(fileExists(path));
    EXPECT_EQ(os().removeFile(path), errorFileNotFound());
}
#endif

// --- Identity and listing ------------------------------------------------------------------

#ifndef _WIN32
#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, SameFileSeesThroughSpellingsLinksAndSymlinks) {
    TempDir dir;
    std::string x = dir.file("x.dbf");
    std::string y = dir.file("y.dbf");
    writeFile(x, bytesOf("1"));
    writeFile(y, bytesOf("1"));
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(::link(x.c_str(), dir.file("hard.dbf").c_str()), 0);
    ASSERT_EQ(::symlink(x.c_str(), dir.file("soft.dbf").c_str()), 0);

    EXPECT_EQ(os().sameFile(x, x), true);
    EXPECT_EQ(os().sameFile(dir.path() + "/./x.dbf", x), true);
    EXPECT_EQ(os().sameFile(dir.path() + "/sub/../x.dbf", x), true);
    EXPECT_EQ(os().sameFile(dir.file("hard.dbf"), x), true);
    EXPECT_EQ(os().sameFile(dir.file("soft.dbf"), x), true);
    EXPECT_EQ(os().sameFile(x, y), false);
    EXPECT_EQ(os().sameFile(x, dir.file("missing.dbf")), std::nullopt);
    EXPECT_EQ(os().sameFile(dir.file("missing.dbf"), x), std::nullopt);
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, SameFileWithARelativeSpelling) {
    TempDir dir;
    std::string saved = os().currentDirectory();
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    writeFile("x", bytesOf("1"));
    std::optional<bool> same = os().sameFile("./x", "x");
    std::optional<bool> absolute = os().sameFile(dir.file("x"), "x");
    ASSERT_EQ(::chdir(saved.c_str()), 0);
    EXPECT_EQ(same, true);
    EXPECT_EQ(absolute, true);
}
#endif
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ListDirectoryMatchesWildcardsWithoutRegardToCase) {
    TempDir dir;
    for (const char *name : {"X.DBF", "a.dbf", "b.DbF", "c.txt", "dbf", "m.dbf.bak"})
        writeFile(dir.file(name), bytesOf("1"));
    std::vector<DirectoryEntry> entries;
    ASSERT_EQ(os().listDirectory(dir.path(), "*.dbf", entries), 0);
    EXPECT_EQ(namesOf(entries), (std::vector<std::string>{"a.dbf", "b.DbF", "X.DBF"}));
    ASSERT_EQ(os().listDirectory(dir.path(), "?.DBF", entries), 0);
    EXPECT_EQ(namesOf(entries), (std::vector<std::string>{"a.dbf", "b.DbF", "X.DBF"}));
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ListDirectorySortsWithoutRegardToCaseAndOmitsDotEntries) {
    TempDir dir;
    for (const char *name : {"Zeta", "alpha", "Beta", "beta", "gamma", "_under", "10"})
        writeFile(dir.file(name), bytesOf("1"));
    std::vector<DirectoryEntry> entries;
    ASSERT_EQ(os().listDirectory(dir.path(), "*", entries), 0);
    // Case ties fall back to byte order so that the order never depends on the folder.
    EXPECT_EQ(namesOf(entries),
              (std::vector<std::string>{"10", "_under", "alpha", "Beta", "beta", "gamma", "Zeta"}));
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ListDirectoryOfAMissingFolderFails) {
    TempDir dir;
    std::vector<DirectoryEntry> entries{{"stale", false, false}};
    EXPECT_EQ(os().listDirectory(dir.file("missing"), "*", entries), errorFileNotFound());
    EXPECT_TRUE(entries.empty());
}
#endif

#ifndef _WIN32
#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ListDirectoryFlagsFoldersAndSymlinks) {
    TempDir dir;
    writeFile(dir.file("plain.dbf"), bytesOf("1"));
    ASSERT_EQ(::mkdir(dir.file("folder.dbf").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("plain.dbf", dir.file("link.dbf").c_str()), 0);
    ASSERT_EQ(::symlink("folder.dbf", dir.file("folderlink.dbf").c_str()), 0);
    ASSERT_EQ(::symlink("missing", dir.file("dangling.dbf").c_str()), 0);
    std::vector<DirectoryEntry> entries;
    ASSERT_EQ(os().listDirectory(dir.path(), "*.DBF", entries), 0);
    ASSERT_EQ(entries.size(), 5u);

    auto check = [&](const char *name, bool isDirectory, bool isSymlink) {
        const DirectoryEntry *entry = findEntry(entries, name);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_EQ(entry->isDirectory, isDirectory) << name;
        EXPECT_EQ(entry->isSymlink, isSymlink) << name;
    };
    check("plain.dbf", false, false);
    check("folder.dbf", true, false);
    check("link.dbf", false, true);
    check("folderlink.dbf", true, true);
    check("dangling.dbf", false, true);
}
#endif
#endif

// --- Path helpers ------------------------------------------------------------------------

TEST(Paths, WildcardMatchBasics) {
    EXPECT_TRUE(wildcardMatch("", ""));
    EXPECT_FALSE(wildcardMatch("", "a"));
    EXPECT_TRUE(wildcardMatch("*", ""));
    EXPECT_TRUE(wildcardMatch("*", "anything.dbf"));
    EXPECT_TRUE(wildcardMatch("**", "x"));
    EXPECT_FALSE(wildcardMatch("?", ""));
    EXPECT_TRUE(wildcardMatch("?", "a"));
    EXPECT_FALSE(wildcardMatch("?", "ab"));
    EXPECT_FALSE(wildcardMatch("??", "a"));
    EXPECT_TRUE(wildcardMatch("a*b*c", "abc"));
    EXPECT_TRUE(wildcardMatch("a*b*c", "aXXbYYc"));
    EXPECT_TRUE(wildcardMatch("a*b*c", "abcabc"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "acb"));
    EXPECT_FALSE(wildcardMatch("a*b*c", "abcb"));
    EXPECT_TRUE(wildcardMatch("abc**", "abc"));
    EXPECT_TRUE(wildcardMatch("*.dbf", "X.DBF"));
    EXPECT_TRUE(wildcardMatch("A?C", "abc"));
    EXPECT_FALSE(wildcardMatch("*.dbf", "x.dbf.bak"));
    EXPECT_TRUE(wildcardMatch("*.d?f", "t.DBF"));
    // Letters outside ASCII are compared as bytes.
    EXPECT_FALSE(wildcardMatch("\xC4*", "\xE4x"));
    EXPECT_TRUE(wildcardMatch("\xC4*", "\xC4x"));
}

TEST(Paths, WildcardStarMatchesALiteralStarInTheName) {
    // POSIX names may hold '*'; the pattern's '*' must still act as a wildcard there.
    EXPECT_TRUE(wildcardMatch("*.dbf", "*x.dbf"));
    EXPECT_TRUE(wildcardMatch("*", "**a"));
    EXPECT_TRUE(wildcardMatch("a*", "a*b"));
}

TEST(Paths, WildcardMatchIsFastOnPathologicalPatterns) {
    std::string name(200000, 'a');
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wildcardMatch("*a*a*a*a*b", name));
    EXPECT_FALSE(wildcardMatch("*a*a*a*a*a*a*a*a*a*a*a*a*b", name));
    EXPECT_TRUE(wildcardMatch("*a*a*a*a*a", name));
    EXPECT_FALSE(wildcardMatch("*?*?*?*?*b", name));
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(2));
}

TEST(Paths, FileNameStart) {
    EXPECT_EQ(fileNameStart("a/b/c.dbf"), 4u);
    EXPECT_EQ(fileNameStart("c.dbf"), 0u);
    EXPECT_EQ(fileNameStart(""), 0u);
    EXPECT_EQ(fileNameStart("/c.dbf"), 1u);
    EXPECT_EQ(fileNameStart("dir/"), 4u);
#ifdef _WIN32
    EXPECT_EQ(fileNameStart("C:c.dbf"), 2u);
    EXPECT_EQ(fileNameStart("a\\b/c.dbf"), 4u);
#endif
}

TEST(Paths, FolderOf) {
    EXPECT_EQ(folderOf("a/b/c.dbf"), "a/b");
    EXPECT_EQ(folderOf("c.dbf"), ".");
    EXPECT_EQ(folderOf(""), ".");
    EXPECT_EQ(folderOf("/c.dbf"), "/");
    EXPECT_EQ(folderOf("//c.dbf"), "/");
    EXPECT_EQ(folderOf("a//c.dbf"), "a");
    EXPECT_EQ(folderOf("/x/y/"), "/x/y");
}

TEST(Paths, JoinPath) {
    std::string sep(1, preferredSeparator());
    EXPECT_EQ(joinPath("a", "b.dbf"), "a" + sep + "b.dbf");
    EXPECT_EQ(joinPath("a/", "b.dbf"), "a/b.dbf");
    EXPECT_EQ(joinPath("", "b.dbf"), "b.dbf");
    EXPECT_EQ(joinPath("/", "b.dbf"), "/b.dbf");
#ifdef _WIN32
    // A drive's current folder, not its root.
    EXPECT_EQ(joinPath("C:", "b.dbf"), "C:b.dbf");
    EXPECT_EQ(joinPath(folderOf("C:a.dbf"), "b.dbf"), "C:b.dbf");
#endif
    EXPECT_TRUE(isPathSeparator(preferredSeparator()));
    EXPECT_TRUE(isPathSeparator('/'));
    std::string path = joinPath(joinPath("x", "y"), "z.dbf");
    EXPECT_EQ(folderOf(path), joinPath("x", "y"));
    EXPECT_EQ(path.substr(fileNameStart(path)), "z.dbf");
}

// --- Odds and ends -------------------------------------------------------------------------

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, ErrorCodesAreDistinctAndHaveText) {
    std::vector<ErrorCode> codes = {errorFileNotFound(), errorSharingViolation(), errorDiskFull(),
                                    errorNameTooLong(), errorInvalidArgument()};
    std::set<ErrorCode> distinct(codes.begin(), codes.end());
    EXPECT_EQ(distinct.size(), codes.size());
    for (ErrorCode code : codes) {
        EXPECT_NE(code, 0);
        EXPECT_FALSE(os().errorText(code).empty()) << code;
    }
    EXPECT_FALSE(os().errorText(987654).empty());
    EXPECT_NE(os().errorText(errorFileNotFound()), os().errorText(errorDiskFull()));
}
#endif

#ifndef _WIN32 // written against the POSIX platform and its paths
TEST(PosixPlatform, FoldersAndClock) {
    std::string temp = os().tempFolder();
    ASSERT_FALSE(temp.empty());
    EXPECT_TRUE(isPathSeparator(temp.back()));
    auto attributes = os().getAttributes(temp);
    ASSERT_TRUE(attributes);
    EXPECT_TRUE(attributes->isDirectory);
    std::string cwd = os().currentDirectory();
    EXPECT_FALSE(cwd.empty());
    EXPECT_EQ(os().sameFile(cwd, "."), true);

    LocalTime now = os().localTime();
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LE(now.hour, 23);
    EXPECT_LE(now.minute, 59);
    EXPECT_LE(now.second, 60);
}
#endif

// --- The fault-injecting platform --------------------------------------------------------

using testing::anyPath;
using testing::FaultPlatform;
using testing::IoCounters;
using testing::ioError;
using testing::Operation;
using testing::pathEndsWith;
using testing::pathIs;

TEST(FaultPlatform, ForwardsWhenNoFaultIsSet) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    {
        OpenResult file =
            faults.openFile(path, request(Access::ReadWrite, Share::None, Disposition::CreateNew));
        ASSERT_TRUE(file);
        ASSERT_TRUE(file.file->write("hello", 5).ok());
        EXPECT_EQ(readAll(*file.file), "hello");
    }
    EXPECT_EQ(readFile(path), bytesOf("hello"));
    EXPECT_EQ(faults.copyFile(path, dir.file("c.dbf")), 0);
    EXPECT_EQ(faults.renameFile(dir.file("c.dbf"), dir.file("d.dbf")), 0);
    EXPECT_EQ(readFile(dir.file("d.dbf")), bytesOf("hello"));
    EXPECT_EQ(faults.removeFile(dir.file("d.dbf")), 0);
    EXPECT_TRUE(faults.createUniqueFile(dir.path(), "u"));
    EXPECT_TRUE(faults.getAttributes(path));
    EXPECT_EQ(faults.sameFile(path, path), true);
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST(FaultPlatform, DiskFullCutsTheCrossingWriteShortAndFailsLaterOnes) {
    TempDir dir;
    FaultPlatform faults;
    faults.failWritesAfter(10, pathEndsWith(".DBF"));
    OpenResult table = faults.openFile(
        dir.file("t.dbf"), request(Access::ReadWrite, Share::None, Disposition::CreateAlways));
    OpenResult other = faults.openFile(
        dir.file("t.txt"), request(Access::ReadWrite, Share::None, Disposition::CreateAlways));
    ASSERT_TRUE(table);
    ASSERT_TRUE(other);
    EXPECT_TRUE(table.file->write("123456", 6).ok());
    EXPECT_TRUE(other.file->write("unlimited text", 14).ok());
    IoResult put = table.file->write("abcdef", 6);
    EXPECT_EQ(put.error, errorDiskFull());
    EXPECT_EQ(put.bytes, 4u);
    put = table.file->write("x", 1);
    EXPECT_EQ(put.error, errorDiskFull());
    EXPECT_EQ(put.bytes, 0u);
    EXPECT_EQ(readFile(dir.file("t.dbf")), bytesOf("123456abcd"));
    EXPECT_EQ(readFile(dir.file("t.txt")), bytesOf("unlimited text"));
}
#endif

TEST(FaultPlatform, DiskFullAppliesToCopies) {
    TempDir dir;
    FaultPlatform faults;
    writeFile(dir.file("a"), bytesOf("0123456789"));
    faults.failWritesAfter(4);
    EXPECT_EQ(faults.copyFile(dir.file("a"), dir.file("b")), errorDiskFull());
    EXPECT_EQ(readFile(dir.file("b")), bytesOf("0123"));
}

TEST(FaultPlatform, ReadFaultDeliversTheBytesBeforeTheBadSpot) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("0123456789abcdef"));
    faults.failReadsAt(pathIs(path), 8, 2);
    OpenResult file =
        faults.openFile(path, request(Access::Read, Share::Read, Disposition::OpenExisting));
    ASSERT_TRUE(file);
    char buffer[16] = {};
    IoResult got = file.file->read(buffer, 16);
    EXPECT_EQ(got.error, ioError());
    EXPECT_EQ(got.bytes, 8u);
    EXPECT_EQ(std::string(buffer, 8), "01234567");
    ASSERT_EQ(file.file->seek(9), 0);
    EXPECT_EQ(file.file->read(buffer, 1).error, ioError());
    ASSERT_EQ(file.file->seek(10), 0);
    got = file.file->read(buffer, 16);
    EXPECT_TRUE(got.ok());
    EXPECT_EQ(std::string(buffer, got.bytes), "abcdef");
    ASSERT_EQ(file.file->seek(0), 0);
    got = file.file->read(buffer, 8);
    EXPECT_TRUE(got.ok());
    EXPECT_EQ(got.bytes, 8u);
}

TEST(FaultPlatform, OperationFaultsHonourFilterAccessAndCount) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("x"));
    faults.failOpen(pathEndsWith(".dbf"), errorSharingViolation(), Access::ReadWrite, std::nullopt,
                    1);
    faults.failOperation(Operation::Rename, pathEndsWith(".bak"), errorNameTooLong());
    faults.failOperation(Operation::Remove, anyPath(), errorInvalidArgument());

    EXPECT_TRUE(
        faults.openFile(path, request(Access::Read, Share::Read, Disposition::OpenExisting)));
    OpenResult refused =
        faults.openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    EXPECT_EQ(refused.error, errorSharingViolation());
    EXPECT_TRUE(
        faults.openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting)))
        << "the fault was for one open only";
    EXPECT_EQ(faults.renameFile(path, dir.file("t.bak")), errorNameTooLong());
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(faults.removeFile(path), errorInvalidArgument());
    EXPECT_TRUE(fileExists(path));
    faults.clearFaults();
    EXPECT_EQ(faults.removeFile(path), 0);
}

TEST(FaultPlatform, CrashStopsEveryLaterMutationButNotReads) {
    TempDir dir;
    FaultPlatform faults;
    std::string path = dir.file("t.dbf");
    writeFile(path, bytesOf("abc"));
    faults.crashAfter(2);
    OpenResult file =
        faults.openFile(path, request(Access::ReadWrite, Share::None, Disposition::OpenExisting));
    ASSERT_TRUE(file);
    EXPECT_TRUE(file.file->write("1", 1).ok());
    EXPECT_TRUE(file.file->write("2", 1).ok());
    EXPECT_FALSE(faults.crashed());
    EXPECT_EQ(file.file->write("3", 1).error, ioError());
    EXPECT_TRUE(faults.crashed());
    EXPECT_NE(file.file->setEnd(), 0);
    EXPECT_NE(faults.renameFile(path, dir.file("u.dbf")), 0);
    EXPECT_NE(faults.removeFile(path), 0);
    EXPECT_NE(faults.copyFile(path, dir.file("v.dbf")), 0);
    EXPECT_FALSE(faults.createUniqueFile(dir.path(), "x", nullptr));
    EXPECT_FALSE(faults.openFile(dir.file("w.dbf"),
                                 request(Access::ReadWrite, Share::None, Disposition::OpenAlways)));
    EXPECT_EQ(readAll(*file.file), "12c");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"t.dbf"}));
    EXPECT_EQ(faults.mutatingOperations(), 2u);
}

TEST(FaultPlatform, FixedClockAndCounters) {
    TempDir dir;
    FaultPlatform faults;
    faults.setLocalTime(LocalTime{2001, 2, 3, 4, 5, 6});
    LocalTime now = faults.localTime();
    EXPECT_EQ(now.year, 2001);
    EXPECT_EQ(now.second, 6);

    std::string path = dir.file("t.dbf");
    {
        OpenResult file =
            faults.openFile(path, request(Access::ReadWrite, Share::None, Disposition::CreateNew));
        ASSERT_TRUE(file);
        file.file->write("abcd", 4);
        file.file->write("ef", 2);
        file.file->seek(0);
        char buffer[8];
        file.file->read(buffer, 8);
    }
    faults.openFile(dir.file("other"),
                    request(Access::Read, Share::Read, Disposition::OpenExisting));
    IoCounters count = faults.counters(pathIs(path));
    EXPECT_EQ(count.opens, 1u);
    EXPECT_EQ(count.writes, 2u);
    EXPECT_EQ(count.bytesWritten, 6u);
    EXPECT_EQ(count.seeks, 1u);
    EXPECT_EQ(count.reads, 1u);
    EXPECT_EQ(count.bytesRead, 6u);
    EXPECT_EQ(faults.counters().opens, 2u);
    faults.resetCounters();
    EXPECT_EQ(faults.counters().opens, 0u);
}

} // namespace
} // namespace salvora
