// A batch's cached listings answer every look-up of a name as a listing of the folder at that
// moment would, whatever the batch created, renamed or removed since; and they spare the
// listing where the batch left the name alone. Names differing only in case need a file
// system that tells them apart.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/listingcache.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

namespace fs = std::filesystem;

std::string listed(platform::Platform &os, const std::string &folder, const std::string &name) {
    std::vector<platform::DirectoryEntry> entries;
    platform::ErrorCode error = os.listDirectory(folder, name, entries);
    std::string text = "error " + std::to_string(error) + ":";
    for (const platform::DirectoryEntry &entry : entries)
        text += " " + entry.name + (entry.isDirectory ? "/" : "") + (entry.isSymlink ? "@" : "");
    return text;
}

// What the checks of one name answer: whether it is there, what it is, whether it opens.
std::string looked(platform::Platform &os, const std::string &path) {
    platform::ErrorCode attributesError = 0;
    bool there = os.getAttributes(path, &attributesError).has_value();
    platform::OpenResult opened =
        os.openFile(path, {platform::Access::Read, platform::Share::Read,
                           platform::Disposition::OpenExisting, false, false});
    return std::string(there ? "there" : "missing " + std::to_string(attributesError)) +
           (os.identity(path) ? " known" : " unknown") + (os.isSymbolicLink(path) ? " link" : "") +
           " kind " + std::to_string(static_cast<int>(os.entryKind(path))) + " open " +
           std::to_string(opened.error) + " at " + os.resolvedPath(path);
}

TEST(ListingCache, AnswersEveryLookUpAsAListingOfTheFolderWouldAfterTheBatchChangedIt) {
    TempDir dir;
    platform::Platform &native = platform::nativePlatform();
    ListingCache cache(native);
    writeFile(dir.file("t.dbf"), Bytes{});
    writeFile(dir.file("T.FPT"), Bytes{});
    fs::create_directories(dir.file("m.fpt.d"));
    fs::create_symlink("t.dbf", dir.file("link"));
    std::string work;
    const platform::OpenRequest create{platform::Access::ReadWrite, platform::Share::None,
                                       platform::Disposition::CreateAlways};
    struct Step {
        const char *what;
        std::function<void()> act;
    };
    const std::vector<Step> steps = {
        {"first look", [] {}},
        {"a memo created in another spelling", [&] { cache.openFile(dir.file("M.fpt"), create); }},
        {"a work file", [&] { cache.createWorkFile(dir.path(), ".m.fpt.salvora-", work); }},
        {"the work file renamed to a memo", [&] { cache.renameFile(work, dir.file("m.FPT")); }},
        {"the first memo removed", [&] { cache.removeFile(dir.file("M.fpt")); }},
        {"a copy", [&] { cache.copyFile(dir.file("t.dbf"), dir.file("T.fpt")); }},
        {"a unique file", [&] { cache.createUniqueFile(dir.path(), "uuu"); }},
        {"a memo renamed away", [&] { cache.renameFile(dir.file("T.FPT"), dir.file("x.fpt")); }},
        {"an open that fails", [&] { cache.openFile(dir.file("m.fpt.d"), create); }},
        {"the link's target removed", [&] { cache.removeFile(dir.file("t.dbf")); }},
    };
    for (const Step &step : steps) {
        step.act();
        SCOPED_TRACE(step.what);
        for (const char *name :
             {"m.fpt", "M.FPT", "t.fpt", "x.FPT", "t.dbf", "m.fpt.d", "none", "link"}) {
            // Before and after the folder is listed anew for the name.
            EXPECT_EQ(looked(cache, dir.file(name)), looked(native, dir.file(name))) << name;
            EXPECT_EQ(listed(cache, dir.path(), name), listed(native, dir.path(), name)) << name;
            EXPECT_EQ(looked(cache, dir.file(name)), looked(native, dir.file(name))) << name;
        }
    }
    EXPECT_EQ(listed(cache, dir.file("missing"), "m.fpt"),
              listed(native, dir.file("missing"), "m.fpt"));
}

TEST(ListingCache, ListsAFolderOnceForLookUpsOfNamesTheBatchLeftAlone) {
    TempDir dir;
    platform::Platform &native = platform::nativePlatform();
    ListingCache cache(native);
    for (int i = 0; i < 40; ++i)
        writeFile(dir.file("t" + std::to_string(i) + ".dbf"), Bytes{});
    writeFile(dir.file(".hidden"), Bytes{});
    // The first run's search for stale work files lists the folder with a mask; the same
    // listing then answers for names. A mask asks the system again later.
    EXPECT_EQ(listed(cache, dir.path(), ".*"), "error 0: .hidden");
    EXPECT_EQ(listed(cache, dir.path(), "T1*.DBF"), listed(native, dir.path(), "T1*.DBF"));
    // Each table's run: its memo looked up, a work file made and renamed over the table. The
    // work files are named here: a random name may share a mark with a later look-up, which
    // then lists the folder once more, as it may.
    for (int i = 0; i < 40; ++i) {
        std::string table = dir.file("t" + std::to_string(i) + ".dbf");
        EXPECT_EQ(listed(cache, dir.path(), "t" + std::to_string(i) + ".dbt"), "error 0:");
        std::string work = dir.file(".t" + std::to_string(i) + ".dbf.salvora-work");
        ASSERT_TRUE(cache.openFile(work, {platform::Access::ReadWrite, platform::Share::None,
                                          platform::Disposition::CreateNew}));
        ASSERT_EQ(cache.renameFile(work, table), 0);
    }
    EXPECT_EQ(cache.listings(), 1u);
    // A look-up after its own name changed lists again.
    writeFile(dir.file("late.dbt"), Bytes{});
    cache.removeFile(dir.file("t0.dbf"));
    EXPECT_EQ(listed(cache, dir.path(), "T0.DBF"), "error 0:");
    EXPECT_EQ(cache.listings(), 2u);
    EXPECT_EQ(listed(cache, dir.path(), "late.dbt"), "error 0: late.dbt");
    // That listing answers for the changed name from then on.
    EXPECT_EQ(listed(cache, dir.path(), "t0.dbf"), "error 0:");
    EXPECT_EQ(cache.listings(), 2u);
}

TEST(ListingCache, ResolvesPathsAsTheSystemDoes) {
    TempDir dir;
    platform::Platform &native = platform::nativePlatform();
    ListingCache cache(native);
    fs::create_directories(dir.file("real/inner"));
    writeFile(dir.file("real/t.dbf"), Bytes{});
    fs::create_directory_symlink("real", dir.file("linked"));
    fs::create_symlink("t.dbf", dir.file("real/link.dbf"));
    fs::create_symlink("nowhere.dbf", dir.file("real/dangling.dbf"));
    WorkingFolder inside(dir.path());
    for (const char *path :
         {"real/t.dbf", "linked/t.dbf", "linked/link.dbf", "real/link.dbf", "real/dangling.dbf",
          "real/missing.dbf", "linked//t.dbf", "real/inner/../t.dbf", "real/inner", "real/.",
          "real/", "t.dbf", "linked/inner/..", "linked"}) {
        for (const std::string &name : {std::string(path), dir.file(path)}) {
            SCOPED_TRACE(name);
            // Twice: the second answer comes from what the first learnt.
            EXPECT_EQ(cache.resolvedPath(name), native.resolvedPath(name));
            EXPECT_EQ(cache.resolvedPath(name), native.resolvedPath(name));
        }
    }
    // A table the batch removed, then a link in its place: the answers follow.
    std::string table = dir.file("linked/t.dbf");
    ASSERT_EQ(cache.resolvedPath(table), native.resolvedPath(table));
    ASSERT_EQ(cache.removeFile(table), 0);
    EXPECT_EQ(cache.resolvedPath(table), native.resolvedPath(table));
    fs::create_symlink("inner", table);
    EXPECT_EQ(cache.resolvedPath(table), native.resolvedPath(table));
    EXPECT_EQ(cache.resolvedPath(table), dir.file("real/inner"));
}

} // namespace
} // namespace salvora::testing
