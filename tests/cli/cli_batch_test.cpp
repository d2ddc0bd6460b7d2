// The built program's batches on real folder trees: the wildcard batch and the recursive
// batch, their logs, in-place repairs, "/logappend", "/LOG" and the edges of the walk.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/programrunner.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

const std::string banner = "Salvora v4.79\r\n";

class CliBatch : public ::testing::Test {
  protected:
    TempDir dir;
    TempDir config;

    ProgramResult run(const std::vector<std::string> &arguments, const std::string &where = "") {
        return runProgram({SALVORA_PROGRAM,
                           arguments,
                           where.empty() ? dir.path() : where,
                           {{"XDG_CONFIG_HOME", config.path()}}});
    }
    void put(const std::string &name, const Bytes &bytes = needsRepair()) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
        writeFile(dir.file(name), bytes);
    }
    std::string text(const std::string &name) { return textOf(readFile(dir.file(name))); }
    bool repaired(const std::string &name) { return storedCount(readFile(dir.file(name))) == 2; }
    std::string ok(const std::string &name) { return dir.file(name) + ": OK\r\n"; }
};

TEST_F(CliBatch, WildcardRepairsEveryMatchInPlaceWithTheBannerAndALinePerFile) {
    put("A/x1.dbf");
    put("A/x2.dbf");
    put("A/other.dbf");
    put("A/sub/x3.dbf");
    ProgramResult result = run({dir.file("A/x*.dbf")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(text("A/recovery.log"), banner + ok("A/x1.dbf") + ok("A/x2.dbf"));
    EXPECT_TRUE(repaired("A/x1.dbf"));
    EXPECT_TRUE(repaired("A/x2.dbf"));
    EXPECT_FALSE(repaired("A/other.dbf"));
    EXPECT_FALSE(repaired("A/sub/x3.dbf")) << "no /recurse: subfolders are not entered";
    EXPECT_EQ(result.out, "Salvora v4.79\n" + dir.file("A/x1.dbf") + ": OK\n" +
                              dir.file("A/x2.dbf") + ": OK\n");
}

TEST_F(CliBatch, WildcardOrderIgnoresCaseAndMatchesAnyCase) {
    put("b.DBF");
    put("A.dbf");
    put("c.dbf");
    ASSERT_EQ(run({dir.file("*.dbf")}).exitCode, 0);
    EXPECT_EQ(text("recovery.log"), banner + ok("A.dbf") + ok("b.DBF") + ok("c.dbf"));
}

TEST_F(CliBatch, WildcardWithoutMatchWritesNoLog) {
    put("x.txt", bytesOf("text"));
    ProgramResult result = run({dir.file("*.dbf")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_FALSE(fileExists(dir.file("recovery.log")));
    ProgramResult missing = run({dir.file("nowhere/*.dbf")});
    EXPECT_EQ(missing.exitCode, 2);
}

TEST_F(CliBatch, LogAppendAddsAtTheEndOfTheExistingLog) {
    put("A/x.dbf");
    put("A/recovery.log", bytesOf("an earlier batch\r\n"));
    ASSERT_EQ(run({dir.file("A/*.dbf"), "/logappend"}).exitCode, 0);
    EXPECT_EQ(text("A/recovery.log"), "an earlier batch\r\n" + banner + ok("A/x.dbf"));
    ASSERT_EQ(run({dir.file("A/*.dbf"), "/LOGAPPEND"}).exitCode, 0);
    EXPECT_EQ(text("A/recovery.log"),
              "an earlier batch\r\n" + banner + ok("A/x.dbf") + banner + ok("A/x.dbf"));
    ASSERT_EQ(run({dir.file("A/*.dbf")}).exitCode, 0);
    EXPECT_EQ(text("A/recovery.log"), banner + ok("A/x.dbf")) << "without it the log is new";
}

TEST_F(CliBatch, UnrecoverableTableFailsTheExitCodeButNotTheBatch) {
    put("a.dbf", bytesOf("this is not a table but a few words of text"));
    put("b.dbf");
    ProgramResult result = run({dir.file("*.dbf")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(text("recovery.log"),
              banner + dir.file("a.dbf") + ": Unrecoverable\r\n" + ok("b.dbf"));
    EXPECT_TRUE(repaired("b.dbf"));
}

TEST_F(CliBatch, WildcardPassesAMatchingFolderOnLikeAFile) {
    put("a.dbf");
    std::filesystem::create_directories(dir.file("tables.dbf"));
    ProgramResult result = run({dir.file("*.dbf")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(text("recovery.log"),
              banner + ok("a.dbf") + dir.file("tables.dbf") + ": Failed: Is a directory\r\n");
}

TEST_F(CliBatch, PatternWithoutAFolderWorksInTheCurrentFolder) {
    put("x.dbf");
    put("sub/y.dbf");
    ASSERT_EQ(run({"*.dbf"}).exitCode, 0);
    EXPECT_EQ(text("recovery.log"), banner + "x.dbf: OK\r\n");
    ASSERT_EQ(run({"*.dbf", "/recurse"}).exitCode, 0);
    EXPECT_EQ(text("recovery.log"), banner + "sub/y.dbf: OK\r\nx.dbf: OK\r\n");
}

TEST_F(CliBatch, RecursiveBatchWritesSubfolderLinesBeforeTheFolderOwn) {
    put("A/B/x.dbf");
    put("A/y.dbf");
    ProgramResult result = run({dir.file("A/*.dbf"), "/recurse"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(text("A/recovery.log"), banner + ok("A/B/x.dbf") + ok("A/y.dbf"));
    EXPECT_TRUE(repaired("A/B/x.dbf"));
    EXPECT_TRUE(repaired("A/y.dbf"));
    EXPECT_FALSE(fileExists(dir.file("A/B/recovery.log"))) << "one log, in the top folder";
}

TEST_F(CliBatch, RecursiveBatchWalksWholeSubtreesInOrderAndKeepsHiddenOnes) {
    put("T/z.dbf");
    put("T/a/deep/1.dbf");
    put("T/a/2.dbf");
    put("T/B/3.dbf");
    put("T/.hidden/4.dbf");
    put("T/.5.dbf");
    put("T/notes.txt", bytesOf("text"));
    ASSERT_EQ(run({dir.file("T/*.dbf"), "/recurse"}).exitCode, 0);
    EXPECT_EQ(text("T/recovery.log"), banner + ok("T/.hidden/4.dbf") + ok("T/a/deep/1.dbf") +
                                          ok("T/a/2.dbf") + ok("T/B/3.dbf") + ok("T/.5.dbf") +
                                          ok("T/z.dbf"));
}

TEST_F(CliBatch, RecursiveBatchWithoutMatchesLeavesTheBannerOnly) {
    put("A/B/notes.txt", bytesOf("text"));
    put("A/recovery.log", bytesOf("old\r\n"));
    ProgramResult result = run({dir.file("A/*.dbf"), "/recurse", "/logappend"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(text("A/recovery.log"), banner) << "replaced, /logappend or not";
}

TEST_F(CliBatch, RecursiveBatchWithoutAWildcardDoesNothing) {
    put("A/x.dbf");
    ProgramResult result = run({dir.file("A/x.dbf"), "/recurse"});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_FALSE(fileExists(dir.file("A/recovery.log")));
    EXPECT_FALSE(repaired("A/x.dbf"));
}

TEST_F(CliBatch, RecursiveBatchFollowsLinksToFoldersAndSaysWhereALoopIsCut) {
    put("A/x.dbf");
    put("elsewhere/y.dbf");
    std::filesystem::create_directory_symlink(dir.file("A"), dir.file("A/loop"));
    std::filesystem::create_directory_symlink(dir.file("elsewhere"), dir.file("A/away"));
    ProgramResult result = run({dir.file("A/*.dbf"), "/recurse"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(text("A/recovery.log"), banner + ok("A/away/y.dbf") + "Skipped: " +
                                          dir.file("A/loop") + ": folder loop\r\n" + ok("A/x.dbf"));
    EXPECT_TRUE(repaired("elsewhere/y.dbf"));
}

TEST_F(CliBatch, DetailedLogsOfARecursiveBatchGoToTheWorkingFolder) {
    put("A/x.dbf");
    put("A/B/y.dbf");
    TempDir work;
    ASSERT_EQ(run({dir.file("A/*.dbf"), "/recurse", "/LOG"}, work.path()).exitCode, 0);
    EXPECT_EQ(text("A/recovery.log"), banner + ok("A/B/y.dbf") + ok("A/x.dbf"));
    std::string detailed = textOf(readFile(work.file("recovery.log")));
    EXPECT_EQ(detailed.rfind("Source file:" + dir.file("A/x.dbf"), 0), 0u)
        << "the last run's own log: " << detailed;
    EXPECT_NE(detailed.find("Recoverable records: 2"), std::string::npos);
}

TEST_F(CliBatch, DetailedLogNeverClobbersTheBatchLogInTheSameFolder) {
    put("A/x.dbf");
    put("A/B/y.dbf");
    ProgramResult result = run({"*.dbf", "/recurse", "/LOG"}, dir.file("A"));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(text("A/recovery.log"), banner + "B/y.dbf: OK\r\nx.dbf: OK\r\n");
    EXPECT_TRUE(repaired("A/B/y.dbf"));
    EXPECT_TRUE(repaired("A/x.dbf"));
}

TEST_F(CliBatch, WildcardBatchWritesNoDetailedLog) {
    put("A/x.dbf");
    TempDir work;
    ASSERT_EQ(run({dir.file("A/*.dbf"), "/LOG"}, work.path()).exitCode, 0);
    EXPECT_FALSE(fileExists(work.file("recovery.log")));
}

// A tree deep enough that a file's full path passes the system's limit while its folder's
// does not. Removes what only a relative name can reach when it goes.
class TooLongPath {
  public:
    explicit TooLongPath(const std::string &top) {
        const std::size_t limit = 4096; // PATH_MAX, terminator included
        deepest_ = top;
        for (int level = 0; deepest_.size() + 151 <= limit - 60; ++level) {
            deepest_ += "/" + std::string(150, static_cast<char>('a' + level % 26));
            std::filesystem::create_directory(deepest_);
        }
        // One past the limit once the separator is added.
        longName_ = std::string(limit - deepest_.size() - 4, 'L') + ".dbf";
        WorkingFolder here(deepest_);
        writeFile(longName_, needsRepair());
        writeFile("short.dbf", needsRepair());
    }
    ~TooLongPath() {
        WorkingFolder here(deepest_);
        std::filesystem::remove(longName_);
    }
    const std::string &deepest() const { return deepest_; }
    std::string longPath() const { return deepest_ + "/" + longName_; }

  private:
    std::string deepest_;
    std::string longName_;
};

TEST_F(CliBatch, PathTooLongToOpenGetsALineThatSaysWhy) {
    TooLongPath tree(dir.path());
    ASSERT_GE(tree.longPath().size(), 4096u);
    std::string skipped =
        tree.longPath() +
        ": Skipped: " + platform::nativePlatform().errorText(platform::errorNameTooLong()) + "\r\n";
    std::string fixed = tree.deepest() + "/short.dbf: OK\r\n";

    ProgramResult recursive = run({dir.file("*.dbf"), "/recurse"});
    EXPECT_EQ(recursive.exitCode, 1);
    EXPECT_EQ(text("recovery.log"), banner + skipped + fixed);

    ProgramResult wildcard = run({tree.deepest() + "/*.dbf"});
    EXPECT_EQ(wildcard.exitCode, 1);
    EXPECT_EQ(textOf(readFile(tree.deepest() + "/recovery.log")), banner + skipped + fixed);
}

} // namespace
} // namespace salvora::testing
