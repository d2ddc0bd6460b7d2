// The built program against an adversary's file system: links, second names, names that
// collide with the user's files, special files, locks of other programs. Every run touches
// the right file and only the user's own, or refuses and says why.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/support/memobuilder.h"
#include "tests/support/otherprogramlock.h"
#include "tests/support/programrunner.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

namespace fs = std::filesystem;

std::string textOf(const Bytes &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::uint32_t storedCount(const Bytes &table) {
    return table.size() < 8 ? 0
                            : static_cast<std::uint32_t>(table[4] | table[5] << 8 | table[6] << 16 |
                                                         table[7] << 24);
}

// A FoxPro table whose one kept record holds "kept"; a deleted second record holds "gone",
// so that a repair with /pack rewrites the memo. The header claims one record too many.
struct MemoPair {
    Bytes table;
    Bytes memo;
    Bytes repairedMemo; // after /pack
};

MemoPair memoPair() {
    BuiltMemo memo = foxProMemoFile(64, {{1, bytesOf("kept")}, {1, bytesOf("gone")}});
    TableBuilder t(0xF5);
    t.field("NOTES", 'M', 10)
        .record(memoReference(memo.blocks[0]))
        .record(memoReference(memo.blocks[1]), '*')
        .recordCount(3);
    return {t.build(), memo.file, foxProMemoFile(64, {{1, bytesOf("kept")}}).file};
}

// A sound table but for its stored count.
Bytes plainTable() {
    return needsRepair();
}

class OwnFiles : public ::testing::Test {
  protected:
    TempDir dir;
    TempDir config;

    ProgramResult run(const std::vector<std::string> &arguments, const std::string &cwd = "") {
        return runProgram({SALVORA_PROGRAM,
                           arguments,
                           cwd.empty() ? dir.path() : cwd,
                           {{"XDG_CONFIG_HOME", config.path()}}});
    }
    std::string file(const std::string &name) const { return dir.file(name); }
    void put(const std::string &name, const Bytes &bytes) {
        fs::create_directories(fs::path(file(name)).parent_path());
        writeFile(file(name), bytes);
    }
    Bytes read(const std::string &name) { return readFile(file(name)); }
    bool isLink(const std::string &name) { return fs::is_symlink(file(name)); }
    void link(const std::string &target, const std::string &name) {
        fs::create_directories(fs::path(file(name)).parent_path());
        fs::create_symlink(target, file(name));
    }
    std::vector<std::string> tree() {
        std::vector<std::string> names;
        for (const auto &entry : fs::recursive_directory_iterator(dir.path()))
            names.push_back(entry.path().string().substr(dir.path().size() + 1));
        std::sort(names.begin(), names.end());
        return names;
    }
};

// Links and second names: the real table, its real memo, and each file once.
TEST_F(OwnFiles, LinksLeadToTheRealTableAndItsMemo) {
    MemoPair pair = memoPair();
    struct Scene {
        const char *what;
        std::function<void()> setUp;
        std::vector<std::string> arguments;
        const char *table;   // where the repaired table must be
        const char *memo;    // where the repaired memo must be
        const char *oldName; // a name that must still hold the original table, or ""
    };
    const std::vector<Scene> scenes = {
        {"1: in place through a link to the table",
         [&] {
             put("real/t.dbf", pair.table);
             put("real/t.fpt", pair.memo);
             link("../real/t.dbf", "links/t.dbf");
         },
         {"links/t.dbf", "/pack"},
         "real/t.dbf",
         "real/t.fpt",
         ""},
        {"3: in place with the memo behind a link",
         [&] {
             put("real/t.dbf", pair.table);
             put("store/t.fpt", pair.memo);
             link("../store/t.fpt", "real/t.fpt");
         },
         {"real/t.dbf", "/pack"},
         "real/t.dbf",
         "store/t.fpt",
         ""},
        {"4: /output: naming a hard link of the source",
         [&] {
             put("t.dbf", pair.table);
             put("t.fpt", pair.memo);
             fs::create_hard_link(file("t.dbf"), file("h.dbf"));
         },
         {"t.dbf", "/output:h.dbf", "/pack"},
         "h.dbf",
         "h.fpt",
         "t.dbf"},
    };
    for (const Scene &scene : scenes) {
        SCOPED_TRACE(scene.what);
        fs::remove_all(dir.path());
        fs::create_directories(dir.path());
        scene.setUp();
        ProgramResult result = run(scene.arguments);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_EQ(storedCount(read(scene.table)), 1u);
        EXPECT_EQ(read(scene.memo), pair.repairedMemo);
        if (*scene.oldName) {
            EXPECT_EQ(read(scene.oldName), pair.table) << "the source is never changed";
            EXPECT_EQ(read("t.fpt"), pair.memo);
        }
    }
}

TEST_F(OwnFiles, LinkedTableAndMemoStayLinks) {
    MemoPair pair = memoPair();
    put("real/t.dbf", pair.table);
    put("store/t.fpt", pair.memo);
    link("../store/t.fpt", "real/t.fpt");
    link("../real/t.dbf", "links/t.dbf");
    ProgramResult result = run({"links/t.dbf", "/pack"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(isLink("links/t.dbf"));
    EXPECT_TRUE(isLink("real/t.fpt"));
    EXPECT_EQ(read("store/t.fpt"), pair.repairedMemo);
    EXPECT_FALSE(fs::exists(file("links/t.fpt")));
}

TEST_F(OwnFiles, ADanglingMemoLinkStopsTheRunWithNothingChanged) {
    MemoPair pair = memoPair();
    put("t.dbf", pair.table);
    link("nowhere.fpt", "t.fpt");
    ProgramResult result = run({"t.dbf"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.out.find("t.dbf: Failed: "), std::string::npos) << result.out;
    EXPECT_EQ(read("t.dbf"), pair.table);
    EXPECT_TRUE(isLink("t.fpt"));
    EXPECT_FALSE(fs::exists(file("nowhere.fpt")));
}

// 2: a batch repairs each file once, whichever names it has.
TEST_F(OwnFiles, ABatchRepairsEachTableOnceUnderItsFirstName) {
    MemoPair pair = memoPair();
    put("A/t.dbf", pair.table);
    put("A/t.fpt", pair.memo);
    link("t.dbf", "A/alias.dbf");
    fs::create_hard_link(file("A/t.dbf"), file("A/hard.dbf"));
    for (const std::vector<std::string> &line :
         {std::vector<std::string>{"A/*.dbf", "/pack"},
          std::vector<std::string>{"A/*.dbf", "/recurse", "/pack"},
          std::vector<std::string>{"A/alias.dbf", "A/hard.dbf", "A/t.dbf", "/pack"}}) {
        SCOPED_TRACE(line.front() + " " + line[1]);
        put("A/t.fpt", pair.memo);
        fs::remove(file("A/hard.dbf"));
        put("A/t.dbf", pair.table);
        fs::create_hard_link(file("A/t.dbf"), file("A/hard.dbf"));
        ProgramResult result = run(line);
        EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
        EXPECT_NE(result.out.find("A/hard.dbf: Skipped: same table as A/alias.dbf"),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find("A/t.dbf: Skipped: same table as A/alias.dbf"), std::string::npos)
            << result.out;
        EXPECT_EQ(read("A/t.fpt"), pair.repairedMemo) << "repaired once, never twice";
        EXPECT_EQ(storedCount(read("A/t.dbf")), 1u);
    }
}

// 5, 6, 8a: names that would overwrite the user's files are refused before anything is done.
TEST_F(OwnFiles, NamesThatCollideWithTheUsersFilesAreRefused) {
    MemoPair pair = memoPair();
    struct Refusal {
        std::vector<std::string> arguments;
        int exitCode;
        const char *says;
    };
    const std::vector<Refusal> refusals = {
        {{"CUST.DBF", "/output:cust.dbf"}, 1, "memo file would be the source's memo file"},
        {{"CUST.DBF", "/report:cust.fpt"}, 2, "would overwrite a file of the run"},
        {{"CUST.DBF", "/check", "/report:cust.fpt"}, 2, "would overwrite a file of the run"},
        {{"CUST.DBF", "/report:CUST.log"}, 2, "would overwrite a file of the run"},
        {{"CUST.DBF", "/output:out.dbf", "/report:out.fpt"},
         2,
         "would overwrite a file of the run"},
        {{"A/*.dbf", "/output:B/y.dbf"}, 2, "/output: takes one table"},
        {{"A/*.dbf", "/recurse", "/output:B/y.dbf"}, 2, "/output: takes one table"},
        {{"A", "/output:B/y.dbf"}, 2, "/output: takes one table"},
    };
    for (const Refusal &refusal : refusals) {
        SCOPED_TRACE(refusal.arguments.front() + " " + refusal.arguments.back());
        fs::remove_all(dir.path());
        fs::create_directories(dir.path());
        put("CUST.DBF", pair.table);
        put("cust.fpt", pair.memo);
        put("A/x.dbf", plainTable());
        std::vector<std::string> before = tree();
        ProgramResult result = run(refusal.arguments);
        EXPECT_EQ(result.exitCode, refusal.exitCode) << result.out << result.err;
        EXPECT_NE((result.out + result.err).find(refusal.says), std::string::npos)
            << result.out << result.err;
        EXPECT_EQ(read("CUST.DBF"), pair.table);
        EXPECT_EQ(read("cust.fpt"), pair.memo);
        EXPECT_EQ(read("A/x.dbf"), plainTable());
        std::vector<std::string> after = tree();
        // The single run's own result log is all it may leave.
        after.erase(std::remove(after.begin(), after.end(), "cust.log"), after.end());
        EXPECT_EQ(after, before);
    }
}

// 7, 8: log and memo names come from the file name; a name is used as typed.
TEST_F(OwnFiles, NamesAreTakenFromTheFileNameAsTyped) {
    put("old.dbf.d/t.dbf", plainTable());
    put("old.log", bytesOf("precious"));
    put("old.fpt", bytesOf("precious"));
    ProgramResult result = run({"old.dbf.d/t.dbf"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(textOf(read("old.log")), "precious");
    EXPECT_EQ(textOf(read("old.dbf.d/t.log")), "old.dbf.d/t.dbf: OK\r\n");

    result = run({"old.dbf.d/t.dbf", "/output:old.dbf.d/u.dbf"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fs::exists(file("old.dbf.d/u.log")));
    EXPECT_EQ(textOf(read("old.log")), "precious");

    put("t.dbf", plainTable());
    result = run({"t.dbf "});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(read("t.dbf"), plainTable()) << "\"t.dbf \" is another name";
}

// 9: the memo work file needs no writable working folder and leaves the user's files alone.
TEST_F(OwnFiles, TheWorkingFolderIsNeverWrittenTo) {
    MemoPair pair = memoPair();
    put("t.dbf", pair.table);
    put("t.fpt", pair.memo);
    // Not even root can write in /proc.
    ProgramResult result = run({file("t.dbf"), "/pack"}, "/proc");
    EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
    EXPECT_EQ(read("t.fpt"), pair.repairedMemo);

    put("t.dbf", pair.table);
    put("t.fpt", pair.memo);
    put("victim.txt", bytesOf("precious"));
    link("victim.txt", "tmpmemo.tmp");
    result = run({"t.dbf", "/output:out.dbf", "/pack"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(textOf(read("victim.txt")), "precious");
    EXPECT_TRUE(isLink("tmpmemo.tmp"));
    EXPECT_EQ(read("out.fpt"), pair.repairedMemo);
    for (const std::string &name : tree())
        EXPECT_EQ(name.find(".salvora-"), std::string::npos) << name << " left behind";
}

// 10: a log is never written through a link.
TEST_F(OwnFiles, LogsAreNotOpenedThroughLinks) {
    put("victim.txt", bytesOf("precious"));
    put("x.dbf", plainTable());
    link("victim.txt", "x.log");
    ProgramResult result = run({"x.dbf"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("x.log: refused: the name is a symbolic link"), std::string::npos)
        << result.err;
    EXPECT_EQ(storedCount(read("x.dbf")), 2u);

    put("A/y.dbf", plainTable());
    link("../victim.txt", "A/recovery.log");
    link("victim.txt", "recovery.log");
    result = run({"A/*.dbf", "/recurse", "/LOG"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(textOf(read("victim.txt")), "precious");
    EXPECT_TRUE(isLink("A/recovery.log"));
    EXPECT_TRUE(isLink("recovery.log"));
}

// 14, 16: another program's record lock; results that are no damage say "Failed".
TEST_F(OwnFiles, ATableInUseFailsAtOnceAndSaysWhy) {
    put("t.dbf", plainTable());
    std::optional<OtherProgramLock> other;
    other.emplace(file("t.dbf"), true);
    ASSERT_TRUE(other->holding());
    for (const std::vector<std::string> &line :
         {std::vector<std::string>{"t.dbf"}, std::vector<std::string>{"*.dbf"},
          std::vector<std::string>{"t.dbf", "/output:copy.dbf"}}) {
        SCOPED_TRACE(line.back());
        ProgramResult result = run(line);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.out.find("t.dbf: Failed: The file is in use by another program."),
                  std::string::npos)
            << result.out;
        EXPECT_EQ(read("t.dbf"), plainTable());
        EXPECT_FALSE(fs::exists(file("copy.dbf")));
    }
    other.reset();
    put("bad.dbf", bytesOf("not a table, only a few words"));
    ProgramResult result = run({"bad.dbf"});
    EXPECT_EQ(result.out.find("Failed"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("bad.dbf: Unrecoverable"), std::string::npos) << result.out;
}

// 15: a FIFO where a table should be never makes a run wait.
TEST_F(OwnFiles, AFifoIsNotATableAndNothingWaitsForIt) {
    put("A/y.dbf", plainTable());
    ASSERT_EQ(::mkfifo(file("A/x.dbf").c_str(), 0600), 0);
    ProgramResult check = run({"A/x.dbf", "/check"});
    EXPECT_EQ(check.exitCode, 2);
    EXPECT_NE((check.out + check.err).find("not a regular file"), std::string::npos)
        << check.out << check.err;
    ProgramResult batch = run({"A/*.dbf", "/recurse"});
    EXPECT_EQ(batch.exitCode, 1);
    EXPECT_NE(batch.out.find("A/x.dbf: Failed: not a regular file"), std::string::npos)
        << batch.out;
    EXPECT_NE(batch.out.find("A/y.dbf: OK"), std::string::npos) << batch.out;
}

// 17, 18: a check writes no settings; a report that cannot be written fails the exit code.
TEST_F(OwnFiles, ChecksWriteNoSettingsAndLostReportsFail) {
    put("t.dbf", plainTable());
    ProgramResult check = run({"t.dbf", "/check"});
    EXPECT_EQ(check.exitCode, 1) << check.err;
    EXPECT_TRUE(fs::is_empty(config.path())) << "a check writes nothing at all";

    ProgramResult result = run({"t.dbf", "/report:no/such/folder/r.txt"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("no/such/folder/r.txt: "), std::string::npos) << result.err;
    EXPECT_NE(result.out.find("t.dbf: OK"), std::string::npos) << "the repair stands";
    EXPECT_EQ(storedCount(read("t.dbf")), 2u);
}

// 13: the result keeps the source's owner, group and mode.
TEST_F(OwnFiles, InPlaceResultKeepsTheOwnerAndMode) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a file away";
    MemoPair pair = memoPair();
    put("t.dbf", pair.table);
    put("t.fpt", pair.memo);
    for (const char *name : {"t.dbf", "t.fpt"}) {
        ASSERT_EQ(::chown(file(name).c_str(), 4321, 4322), 0);
        ASSERT_EQ(::chmod(file(name).c_str(), 0640), 0);
    }
    ProgramResult result = run({"t.dbf", "/pack"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(read("t.fpt"), pair.repairedMemo);
    for (const char *name : {"t.dbf", "t.fpt"}) {
        struct stat st {};
        ASSERT_EQ(::stat(file(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u) << name;
        EXPECT_EQ(st.st_gid, 4322u) << name;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
    }
}

// 19: the manual page says what the program does.
TEST_F(OwnFiles, TheManualPageAgreesWithTheProgram) {
    std::string page = textOf(readFile(SALVORA_SOURCE_DIR "/app/salvora.1.in"));
    EXPECT_EQ(run({"/clearhistory"}).exitCode, 2);
    EXPECT_NE(page.find("clears the history and exits with 2"), std::string::npos);
    EXPECT_NE(page.find("NAME TYPE DATA"), std::string::npos) << "the settings file's format";
}

} // namespace
} // namespace salvora::testing
#endif
