// The command-line batches run in-process: their exit codes, what goes to standard output,
// the detailed-log flag, and the lines for what the system would not let them read.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "app/batch.h"
#include "tests/support/fakeappsystem.h"
#include "tests/support/faultplatform.h"
#include "tests/support/listingfaults.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

Bytes table() {
    return TableBuilder().field("NAME", 'C', 10).record("Alice").build();
}

class Batch : public ::testing::Test {
  protected:
    TempDir dir;
    ListingFaults listing;
    FaultPlatform os{listing};
    FakeAppSystem system;
    EngineContext engine{os};
    AppContext app{engine, system};

    void put(const std::string &name, const Bytes &bytes = table()) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
        writeFile(dir.file(name), bytes);
    }
    std::string log(const std::string &folder = "") {
        return textOf(readFile(dir.file(folder + "recovery.log")));
    }
};

TEST_F(Batch, WildcardLinesGoToTheLogAndStandardOutput) {
    put("a.dbf");
    put("b.dbf");
    EXPECT_EQ(runWildcardBatch(app, dir.file("*.dbf"), false), 0);
    std::string lines = dir.file("a.dbf") + ": OK\r\n" + dir.file("b.dbf") + ": OK\r\n";
    EXPECT_EQ(log(), "Salvora v4.79\r\n" + lines);
    EXPECT_EQ(system.out, lines) << "the banner is the driver's to print";
}

TEST_F(Batch, ExitCodesTellAllFixedSomeNotAndNothingToDo) {
    put("a.dbf");
    EXPECT_EQ(runWildcardBatch(app, dir.file("*.dbf"), false), 0);
    EXPECT_EQ(runRecursiveBatch(app, dir.file("*.dbf")), 0);
    put("bad.dbf", bytesOf("no table here"));
    EXPECT_EQ(runWildcardBatch(app, dir.file("*.dbf"), false), 1);
    EXPECT_EQ(runRecursiveBatch(app, dir.file("*.dbf")), 1);
    EXPECT_EQ(runWildcardBatch(app, dir.file("*.xyz"), false), 2);
    EXPECT_EQ(runRecursiveBatch(app, dir.file("*.xyz")), 2);
    EXPECT_EQ(runRecursiveBatch(app, dir.file("a.dbf")), 2) << "no wildcard";
    EXPECT_NE(system.err.find(dir.file("*.xyz") + ": no matching file"), std::string::npos);
    EXPECT_NE(system.err.find(dir.file("a.dbf") + ": no wildcard"), std::string::npos);
}

TEST_F(Batch, OnlyTheRecursiveBatchKeepsTheDetailedLog) {
    put("a.dbf");
    TempDir work;
    WorkingFolder here(work.path());
    app.options.detailedLog = 1;
    runRecursiveBatch(app, dir.file("*.dbf"));
    EXPECT_EQ(app.options.detailedLog, 1u);
    EXPECT_TRUE(fileExists(work.file("recovery.log"))) << "the run's own log";
    std::filesystem::remove(work.file("recovery.log"));
    runWildcardBatch(app, dir.file("*.dbf"), false);
    EXPECT_EQ(app.options.detailedLog, 0u);
    EXPECT_FALSE(fileExists(work.file("recovery.log")));
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(Batch, UnreadableFolderIsReportedWhereItLiesAndTheWalkGoesOn) {
    put("a/x.dbf");
    put("b/y.dbf");
    put("c/z.dbf");
    listing.failListing(dir.file("b"), EACCES);
    EXPECT_EQ(runRecursiveBatch(app, dir.file("*.dbf")), 1);
    EXPECT_EQ(log(), "Salvora v4.79\r\n" + dir.file("a/x.dbf") + ": OK\r\n" + dir.file("b") +
                         ": Folder skipped: " + os.errorText(EACCES) + "\r\n" +
                         dir.file("c/z.dbf") + ": OK\r\n");
}
#endif

TEST_F(Batch, NameTheSystemCannotTakeIsSkippedWithTheReason) {
    put("a.dbf");
    put("b.dbf");
    os.failOpen(pathEndsWith("b.dbf"), platform::errorNameTooLong());
    std::string lines = dir.file("a.dbf") + ": OK\r\n" + dir.file("b.dbf") +
                        ": Skipped: " + os.errorText(platform::errorNameTooLong()) + "\r\n";
    EXPECT_EQ(runWildcardBatch(app, dir.file("*.dbf"), false), 1);
    EXPECT_EQ(log(), "Salvora v4.79\r\n" + lines);
    EXPECT_EQ(runRecursiveBatch(app, dir.file("*.dbf")), 1);
    EXPECT_EQ(log(), "Salvora v4.79\r\n" + lines);
}

TEST_F(Batch, OtherOpenFailuresFailWithTheirReason) {
    put("a.dbf");
    os.failOpen(pathEndsWith("a.dbf"), ioError());
    EXPECT_EQ(runWildcardBatch(app, dir.file("*.dbf"), false), 1);
    EXPECT_EQ(log(), "Salvora v4.79\r\n" + dir.file("a.dbf") +
                         ": Failed: " + os.errorText(ioError()) + "\r\n");
}

TEST_F(Batch, LogThatCannotBeMadeLosesItsLinesOnly) {
    put("a.dbf");
    os.failOpen(pathEndsWith("recovery.log"), ioError());
    EXPECT_EQ(runRecursiveBatch(app, dir.file("*.dbf")), 0);
    EXPECT_EQ(system.out, dir.file("a.dbf") + ": OK\r\n");
    EXPECT_FALSE(fileExists(dir.file("recovery.log")));
}

#ifndef _WIN32 // sets a scene only POSIX can: see the test
TEST_F(Batch, QuestionMarkIsAMaskForTheTreeToo) {
    put("sub/a1.dbf");
    put("a22.dbf");
    EXPECT_EQ(runRecursiveBatch(app, dir.file("a?.dbf")), 0);
    EXPECT_EQ(log(), "Salvora v4.79\r\n" + dir.file("sub/a1.dbf") + ": OK\r\n");
}
#endif

} // namespace
} // namespace salvora::testing
