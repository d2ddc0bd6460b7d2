// The recursive batch's walk over real folder trees: its order, what it enters and lists,
// and how it goes on past a folder it cannot read.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "app/folderwalk.h"
#include "tests/support/listingfaults.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

class FolderWalk : public ::testing::Test {
  protected:
    TempDir dir;
    ListingFaults os;

    void put(const std::string &name) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
        writeFile(dir.file(name), bytesOf("x"));
    }
    void folder(const std::string &name) { std::filesystem::create_directories(dir.file(name)); }
    // Paths relative to the temporary folder, and unreadable folders marked with '!'.
    std::vector<std::string> walk(const std::string &mask, const std::string &top = "") {
        BatchFileList list;
        collectFiles(os, top.empty() ? dir.path() : dir.file(top), mask, list);
        std::vector<std::string> found;
        for (const BatchFileItem &item : list) {
            std::string path = item.path.substr(dir.path().size() + 1);
            found.push_back(item.folderError ? "!" + path : item.folderLoop ? "@" + path : path);
        }
        return found;
    }
};

TEST_F(FolderWalk, SubfolderFilesComeBeforeTheFolderOwn) {
    put("B/x.dbf");
    put("y.dbf");
    EXPECT_EQ(walk("*.dbf"), (std::vector<std::string>{"B/x.dbf", "y.dbf"}));
}

TEST_F(FolderWalk, EachSubtreeIsWalkedWholeBeforeTheNext) {
    put("a.dbf");
    put("A1/a.dbf");
    put("A1/deep/a.dbf");
    put("A1/deep/deeper/a.dbf");
    put("b2/a.dbf");
    put("b2/C/a.dbf");
    put("z.dbf");
    EXPECT_EQ(walk("*.dbf"),
              (std::vector<std::string>{"A1/deep/deeper/a.dbf", "A1/deep/a.dbf", "A1/a.dbf",
                                        "b2/C/a.dbf", "b2/a.dbf", "a.dbf", "z.dbf"}));
}

TEST_F(FolderWalk, NamesInAFolderAreInCaseInsensitiveOrder) {
    put("b.dbf");
    put("A.dbf");
    put("C.DBF");
    put("a_.dbf");
    EXPECT_EQ(walk("*.dbf"), (std::vector<std::string>{"A.dbf", "a_.dbf", "b.dbf", "C.DBF"}));
}

TEST_F(FolderWalk, MaskAppliesToFilesOnlyAndEveryFolderIsEntered) {
    put("notes.txt");
    put("x.dbf");
    put("other/y.dbf");
    put("tables.dbf/z.dbf"); // a folder that matches the mask is entered, not listed
    folder("empty");
    EXPECT_EQ(walk("*.DBF"),
              (std::vector<std::string>{"other/y.dbf", "tables.dbf/z.dbf", "x.dbf"}));
    EXPECT_EQ(walk("?.dbf"),
              (std::vector<std::string>{"other/y.dbf", "tables.dbf/z.dbf", "x.dbf"}));
    EXPECT_EQ(walk("*.txt"), (std::vector<std::string>{"notes.txt"}));
}

TEST_F(FolderWalk, HiddenFilesAndFoldersAreIncluded) {
    put(".hidden/x.dbf");
    put(".y.dbf");
    EXPECT_EQ(walk("*.dbf"), (std::vector<std::string>{".hidden/x.dbf", ".y.dbf"}));
}

TEST_F(FolderWalk, LinksToFoldersAreFollowedUntilTheyLeadRoundInACircle) {
    put("real/x.dbf");
    std::filesystem::create_directory_symlink(dir.path(), dir.file("real/loop"));
    std::filesystem::create_directory_symlink(dir.file("real"), dir.file("alias"));
    put("other/y.dbf");
    std::filesystem::create_symlink(dir.file("other/y.dbf"), dir.file("link.dbf"));
    // "loop" leads back to the top: listed as a loop, not entered. A table reached twice is
    // listed twice; the batch takes it up once.
    EXPECT_EQ(walk("*.dbf"), (std::vector<std::string>{"@alias/loop", "alias/x.dbf", "other/y.dbf",
                                                       "@real/loop", "real/x.dbf", "link.dbf"}));
}

TEST_F(FolderWalk, UnreadableFolderTakesItsPlaceAndTheWalkGoesOn) {
    put("a/x.dbf");
    put("b/y.dbf");
    put("b/inner/w.dbf");
    put("c/z.dbf");
    put("top.dbf");
    os.failListing(dir.file("b"), EACCES);
    EXPECT_EQ(walk("*.dbf"), (std::vector<std::string>{"a/x.dbf", "!b", "c/z.dbf", "top.dbf"}));
}

TEST_F(FolderWalk, MissingTopFolderIsReported) {
    BatchFileList list;
    collectFiles(os, dir.file("missing"), "*.dbf", list);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list.begin()->path, dir.file("missing"));
    EXPECT_EQ(list.begin()->folderError, ENOENT);
}

TEST_F(FolderWalk, TrailingSeparatorIsNotDoubled) {
    put("B/x.dbf");
    put("y.dbf");
    EXPECT_EQ(walk("*.dbf", "B/"), (std::vector<std::string>{"B/x.dbf"}));
}

TEST_F(FolderWalk, EmptyFolderIsTheCurrentOneAndPathsStayRelative) {
    put("B/x.dbf");
    put("y.dbf");
    WorkingFolder here(dir.path());
    BatchFileList list;
    collectFiles(os, "", "*.dbf", list);
    std::vector<std::string> found;
    for (const BatchFileItem &item : list)
        found.push_back(item.path);
    EXPECT_EQ(found, (std::vector<std::string>{"B/x.dbf", "y.dbf"}));
}

TEST_F(FolderWalk, EachFolderIsListedOnce) {
    put("a/x.dbf");
    put("b/y.dbf");
    walk("*.dbf");
    EXPECT_EQ(os.listed.size(), 3u);
}

} // namespace
} // namespace salvora::testing
