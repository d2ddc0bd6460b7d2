// One recovery run against the platform: the source's mode is never touched, the source and
// its memo stay held until the result is installed, the work files are private and lie
// beside the files they become. POSIX scenes.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/recovery.h"
#include "tests/support/enginerun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/forwardingplatform.h"
#include "tests/support/memobuilder.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::memoReference;
using testing::TableBuilder;

struct Pair {
    Bytes table;
    Bytes memo;
};

Pair memoPair() {
    testing::BuiltMemo memo =
        testing::foxProMemoFile(64, {{1, testing::bytesOf("kept")}, {1, testing::bytesOf("gone")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10)
        .record(memoReference(memo.blocks[0]))
        .record(memoReference(memo.blocks[1]), '*')
        .recordCount(4);
    return {t.build(), memo.file};
}

unsigned modeOf(const std::string &path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Whether another opener could lock `path` now, as a second run or an xBase program would.
bool lockableByOthers(const std::string &path, int kind) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return true;
    bool free = ::flock(fd, kind | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

// Notes, at each rename, what the run still holds and how its work files look.
class Watcher final : public testing::ForwardingPlatform {
  public:
    std::string table;
    std::string memo;
    bool tableFreeAtRename = false;
    bool memoWritableAtRename = false;
    std::vector<std::string> workFiles;
    std::vector<unsigned> workModes;

    platform::ErrorCode renameFile(const std::string &from, const std::string &to) override {
        // The memo goes first, the table last.
        if (to == memo) {
            tableFreeAtRename = lockableByOthers(table, LOCK_SH);
            memoWritableAtRename = lockableByOthers(memo, LOCK_EX);
        }
        if (to == table)
            tableFreeAtRename = tableFreeAtRename || lockableByOthers(table, LOCK_SH);
        return ForwardingPlatform::renameFile(from, to);
    }
    platform::OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                                        std::string &path) override {
        platform::OpenResult created = ForwardingPlatform::createWorkFile(folder, prefix, path);
        workFiles.push_back(path);
        workModes.push_back(modeOf(path));
        return created;
    }
};

class RecoveryOwnFiles : public ::testing::Test {
  protected:
    testing::TempDir dir;
    testing::TempDir elsewhere;
    Pair pair = memoPair();

    void put() {
        testing::writeFile(dir.file("t.dbf"), pair.table);
        testing::writeFile(dir.file("t.fpt"), pair.memo);
    }
};

TEST_F(RecoveryOwnFiles, TheSourceAndItsMemoStayHeldUntilTheResultIsInPlace) {
    put();
    Watcher os;
    os.table = dir.file("t.dbf");
    os.memo = dir.file("t.fpt");
    testing::EngineRun context(os);
    context.options.pack = 1;
    ASSERT_EQ(context.run(nullptr, os.table, os.table, false), recoveryFixed);
    EXPECT_FALSE(os.tableFreeAtRename) << "a second run could read the old table";
    EXPECT_FALSE(os.memoWritableAtRename) << "a writer could add to the old memo";
    EXPECT_TRUE(lockableByOthers(os.table, LOCK_EX)) << "let go at the end";
}

TEST_F(RecoveryOwnFiles, WorkFilesArePrivateAndBesideTheirTargetNotInTheWorkingFolder) {
    put();
    std::filesystem::create_directories(elsewhere.file("out"));
    Watcher os;
    testing::EngineRun context(os);
    testing::WorkingFolder cwd(dir.path());
    ASSERT_EQ(context.run(nullptr, dir.file("t.dbf"), elsewhere.file("out/u.dbf"), false),
              recoveryFixed);
    ASSERT_EQ(os.workFiles.size(), 2u);
    for (std::size_t i = 0; i < os.workFiles.size(); ++i) {
        EXPECT_EQ(platform::folderOf(os.workFiles[i]), elsewhere.file("out"));
        EXPECT_EQ(os.workModes[i], 0600u);
    }
    EXPECT_EQ(std::filesystem::path(os.workFiles[0]).filename().string().substr(0, 15),
              ".u.dbf.salvora-");
    EXPECT_EQ(std::filesystem::path(os.workFiles[1]).filename().string().substr(0, 15),
              ".u.fpt.salvora-");
    // The copies are ordinary new files, not private ones.
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(modeOf(elsewhere.file("out/u.dbf")), 0666u & ~mask);
    EXPECT_EQ(modeOf(elsewhere.file("out/u.fpt")), 0666u & ~mask);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"t.dbf", "t.fpt"}));
}

// A name that leaves no room for the long work-file name within the system's limit (255
// bytes a name here, 259 a path on Windows) gets the short one, and the repair goes on.
TEST_F(RecoveryOwnFiles, ANameAsLongAsTheSystemTakesIsRepairedInPlace) {
    std::string stem(240, 'n');
    testing::writeFile(dir.file(stem + ".dbf"), pair.table);
    testing::writeFile(dir.file(stem + ".fpt"), pair.memo);
    Watcher os;
    testing::EngineRun context(os);
    context.options.pack = 1;
    std::string table = dir.file(stem + ".dbf");
    ASSERT_EQ(context.run(nullptr, table, table, false), recoveryFixed) << context.messageText;
    ASSERT_EQ(os.workFiles.size(), 4u); // each long name refused, then its short one
    EXPECT_EQ(std::filesystem::path(os.workFiles[1]).filename().string().substr(0, 3), ".sv");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{stem + ".dbf", stem + ".fpt"}));
}

// A read-only source stays read-only at every moment of a copy, even when the run dies.
TEST_F(RecoveryOwnFiles, AReadOnlySourceIsNeverMadeWritable) {
    put();
    testing::FaultPlatform faults;
    testing::EngineRun context(faults);
    ::chmod(dir.file("t.dbf").c_str(), 0444);
    ASSERT_EQ(context.run(nullptr, dir.file("t.dbf"), dir.file("u.dbf"), false), recoveryFixed);
    std::uint64_t steps = faults.mutatingOperations();
    for (std::uint64_t k = 0; k <= steps; ++k) {
        SCOPED_TRACE("killed after " + std::to_string(k) + " steps");
        faults.crashAfter(k);
        context.run(nullptr, dir.file("t.dbf"), dir.file("u.dbf"), false);
        faults.clearFaults();
        EXPECT_EQ(modeOf(dir.file("t.dbf")), 0444u);
    }
    EXPECT_EQ(testing::readFile(dir.file("t.dbf")), pair.table);
    EXPECT_EQ(modeOf(dir.file("u.dbf")) & 0222, 0u) << "the copy is read-only as its source";
}

} // namespace
} // namespace salvora
#endif
