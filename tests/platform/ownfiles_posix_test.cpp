// The platform layer's part in touching only the right files: work files, special files,
// links, identities, other programs' record locks, modes. POSIX scenes.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "tests/support/otherprogramlock.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

namespace fs = std::filesystem;
using platform::Access;
using platform::Disposition;
using platform::OpenRequest;
using platform::Share;

class OwnFilesPlatform : public ::testing::Test {
  protected:
    TempDir dir;
    platform::Platform &os = platform::nativePlatform();

    unsigned modeOf(const std::string &path) {
        struct stat st {};
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    }
};

TEST_F(OwnFilesPlatform, WorkFilesAreNewPrivateHeldAndNamedForTheirFile) {
    std::string path;
    platform::OpenResult created = os.createWorkFile(dir.path(), ".t.dbf.salvora-", path);
    ASSERT_TRUE(created) << os.errorText(created.error);
    std::string name = path.substr(dir.path().size() + 1);
    EXPECT_EQ(name.substr(0, 15), ".t.dbf.salvora-");
    EXPECT_EQ(name.size(), 21u);
    EXPECT_EQ(modeOf(path), 0600u) << "nobody else may read the memos";
    // Held: a cleaner sees a live owner.
    platform::OpenResult cleaner =
        os.openFile(path, {Access::ReadWrite, Share::None, Disposition::OpenExisting});
    EXPECT_EQ(cleaner.error, platform::errorSharingViolation());
    created.file.reset();
    EXPECT_TRUE(os.openFile(path, {Access::ReadWrite, Share::None, Disposition::OpenExisting}));

    std::string second;
    ASSERT_TRUE(os.createWorkFile(dir.path(), ".t.dbf.salvora-", second));
    EXPECT_NE(second, path);
}

TEST_F(OwnFilesPlatform, OnlyRegularFilesOpenAndNothingWaits) {
    ASSERT_EQ(::mkfifo(dir.file("x.dbf").c_str(), 0600), 0);
    auto start = std::chrono::steady_clock::now();
    for (OpenRequest request :
         {OpenRequest{Access::Read, Share::Read, Disposition::OpenExisting},
          OpenRequest{Access::ReadWrite, Share::None, Disposition::OpenAlways},
          OpenRequest{Access::Read, Share::ReadWrite, Disposition::OpenExisting, true, false},
          OpenRequest{Access::ReadWrite, Share::None, Disposition::CreateNew},
          OpenRequest{Access::ReadWrite, Share::None, Disposition::CreateNew, true, false}}) {
        platform::OpenResult opened = os.openFile(dir.file("x.dbf"), request);
        EXPECT_FALSE(opened);
        EXPECT_EQ(opened.error, platform::errorNotRegularFile());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(os.errorText(platform::errorNotRegularFile()), "not a regular file");
    EXPECT_FALSE(os.openFile("/dev/null", {Access::Read, Share::Read, Disposition::OpenExisting}));
    OpenRequest device{Access::ReadWrite, Share::Read, Disposition::OpenExisting};
    device.regularOnly = false;
    EXPECT_TRUE(os.openFile("/dev/null", device)) << "a report may go to a device";
}

TEST_F(OwnFilesPlatform, ALinkIsRefusedWhereItMustNotBeFollowed) {
    writeFile(dir.file("victim.txt"), bytesOf("precious"));
    fs::create_symlink("victim.txt", dir.file("x.log"));
    OpenRequest request{Access::ReadWrite, Share::None, Disposition::CreateAlways};
    request.followLinks = false;
    platform::OpenResult opened = os.openFile(dir.file("x.log"), request);
    EXPECT_EQ(opened.error, platform::errorLinkRefused());
    EXPECT_EQ(readFile(dir.file("victim.txt")), bytesOf("precious"));
    EXPECT_TRUE(os.isSymbolicLink(dir.file("x.log")));
    EXPECT_FALSE(os.isSymbolicLink(dir.file("victim.txt")));

    // Opening what is not there: a dangling link is still refused as a link, not missed.
    fs::create_symlink("gone.txt", dir.file("dangling.log"));
    struct Case {
        const char *name;
        bool followLinks;
        platform::ErrorCode error;
    };
    for (const Case &c : {Case{"dangling.log", false, platform::errorLinkRefused()},
                          Case{"dangling.log", true, platform::errorFileNotFound()},
                          Case{"none.log", false, platform::errorFileNotFound()},
                          Case{"none.log", true, platform::errorFileNotFound()}}) {
        OpenRequest existing{Access::Read, Share::Read, Disposition::OpenExisting};
        existing.followLinks = c.followLinks;
        EXPECT_EQ(os.openFile(dir.file(c.name), existing).error, c.error)
            << c.name << " " << c.followLinks;
    }
}

TEST_F(OwnFilesPlatform, IdentitySeesThroughEveryName) {
    writeFile(dir.file("t.dbf"), bytesOf("table"));
    writeFile(dir.file("u.dbf"), bytesOf("table"));
    fs::create_symlink("t.dbf", dir.file("link.dbf"));
    fs::create_hard_link(dir.file("t.dbf"), dir.file("hard.dbf"));
    auto t = os.identity(dir.file("t.dbf"));
    ASSERT_TRUE(t);
    EXPECT_EQ(os.identity(dir.file("link.dbf")), t);
    EXPECT_EQ(os.identity(dir.file("hard.dbf")), t);
    EXPECT_EQ(os.identity(dir.path() + "/./t.dbf"), t);
    EXPECT_NE(os.identity(dir.file("u.dbf")), t);
    platform::ErrorCode error = 0;
    EXPECT_FALSE(os.identity(dir.file("none.dbf"), &error));
    EXPECT_EQ(error, platform::errorFileNotFound());
}

// Record locks as xBase programs take them: a write lock keeps everyone out, a read lock keeps
// out whoever would write.
TEST_F(OwnFilesPlatform, OtherProgramsRecordLocksCount) {
    writeFile(dir.file("t.dbf"), bytesOf(std::string(100, 'x')));
    struct Case {
        bool otherExclusive;
        OpenRequest request;
        bool opens;
    };
    const Case cases[] = {
        {true, {Access::ReadWrite, Share::None, Disposition::OpenExisting}, false},
        {true, {Access::Read, Share::None, Disposition::OpenExisting}, false},
        {true, {Access::Read, Share::Read, Disposition::OpenExisting}, false},
        {true, {Access::ReadWrite, Share::ReadWrite, Disposition::OpenExisting}, false},
        {false, {Access::ReadWrite, Share::None, Disposition::OpenExisting}, false},
        // Held for ourselves alone, though only to read: another's lock keeps us out.
        {false, {Access::Read, Share::None, Disposition::OpenExisting}, false},
        {false, {Access::Read, Share::Read, Disposition::OpenExisting}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.otherExclusive ? "write" : "read") + " lock, share " +
                     std::to_string(static_cast<int>(c.request.share)));
        OtherProgramLock other(dir.file("t.dbf"), c.otherExclusive);
        ASSERT_TRUE(other.holding());
        platform::OpenResult opened = os.openFile(dir.file("t.dbf"), c.request);
        EXPECT_EQ(static_cast<bool>(opened), c.opens);
        if (!c.opens) {
            EXPECT_EQ(opened.error, platform::errorSharingViolation());
        }
    }
    // Held by us: another program cannot lock it for writing until we let go.
    platform::OpenResult ours =
        os.openFile(dir.file("t.dbf"), {Access::Read, Share::None, Disposition::OpenExisting});
    ASSERT_TRUE(ours);
    EXPECT_FALSE(OtherProgramLock(dir.file("t.dbf"), true).holding());
    ours.file.reset();
    EXPECT_TRUE(OtherProgramLock(dir.file("t.dbf"), true).holding());
}

TEST_F(OwnFilesPlatform, AHandleTakesTheModeItIsGiven) {
    std::string path;
    platform::OpenResult created = os.createWorkFile(dir.path(), ".x.salvora-", path);
    ASSERT_TRUE(created);
    mode_t mask = ::umask(022);
    platform::FileAttributes fresh = os.newFileAttributes();
    ::umask(mask);
    EXPECT_EQ(fresh.native, 0644u);
    EXPECT_EQ(created.file->applyAttributes(fresh), 0);
    EXPECT_EQ(modeOf(path), 0644u);
    ::chmod(dir.path().c_str(), 0755);
    auto attributes = os.getAttributes(dir.path());
    ASSERT_TRUE(attributes);
    EXPECT_TRUE(attributes->hasOwner);
    EXPECT_EQ(created.file->applyAttributes(*attributes), 0);
    EXPECT_EQ(modeOf(path), 0755u);
}

} // namespace
} // namespace salvora::testing
#endif
