// A batch that repairs several tables at once writes what a batch one table at a time does:
// the same files, byte for byte, the same lines on standard output and in the logs, in the
// same order, and the same exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/memobuilder.h"
#include "tests/support/otherprogramlock.h"
#include "tests/support/programrunner.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

namespace fs = std::filesystem;

Bytes soundTable(int seed) {
    TableBuilder builder;
    builder.field("NAME", 'C', 10).field("QTY", 'N', 5);
    for (int i = 0; i <= seed % 5; ++i)
        builder.record("N" + std::to_string(seed * 10 + i) + std::string(9, ' ') + "   42");
    return builder.build();
}

// A dBASE III table with a memo file whose header counts one record too many.
void putMemoTable(const std::string &path) {
    BuiltMemo memo = dBase3MemoFile({"first memo", "second memo"});
    Bytes table = TableBuilder(0x83)
                      .field("NAME", 'C', 10)
                      .field("NOTES", 'M', 10)
                      .record("Alice     " + memoReference(memo.blocks[0]))
                      .record("Bob       " + memoReference(99))
                      .recordCount(3)
                      .build();
    writeFile(path, table);
    writeFile(path.substr(0, path.size() - 3) + "dbt", memo.file);
}

// A dBASE IV memo table whose memo file is missing: its repair writes a new one.
Bytes memoTableWithoutMemo() {
    return TableBuilder(0x8B)
        .field("NAME", 'C', 10)
        .field("NOTES", 'M', 10)
        .record("Carol     " + memoReference(1))
        .build();
}

struct Snapshot {
    int exitCode = 0;
    std::string out;
    std::string err;
    // Every file and link under the folder: bytes, or where the link leads.
    std::map<std::string, std::string> files;
    bool operator==(const Snapshot &) const = default;
};

class CliJobs : public ::testing::Test {
  protected:
    TempDir dir;
    TempDir config;

    std::string top() const { return dir.file("A"); }

    // Sound, damaged, unrecoverable, in use, with a memo, and second names (hard links and
    // links, each before and after its first name), in a folder and a subfolder.
    void makeFolder() {
        fs::remove_all(top());
        for (const char *folder : {"A", "A/sub", "A/sub/deeper"})
            fs::create_directories(dir.file(folder));
        for (int i = 0; i < 12; ++i) {
            std::string name = std::to_string(i);
            writeFile(dir.file("A/sound" + name + ".dbf"), soundTable(i));
            writeFile(dir.file("A/damaged" + name + ".dbf"), needsRepair());
            writeFile(dir.file("A/sub/s" + name + ".dbf"), soundTable(i + 3));
            writeFile(dir.file("A/sub/deeper/d" + name + ".DBF"), needsRepair());
        }
        writeFile(dir.file("A/bad.dbf"), bytesOf("no table at all, only a few words"));
        writeFile(dir.file("A/sub/bad2.dbf"), Bytes(700, 0x05));
        writeFile(dir.file("A/inuse.dbf"), needsRepair());
        putMemoTable(dir.file("A/memo.dbf"));
        putMemoTable(dir.file("A/sub/memo.dbf"));
        // The first repair writes CASE.dbt, which the second then finds as its memo.
        writeFile(dir.file("A/CASE.DBF"), memoTableWithoutMemo());
        writeFile(dir.file("A/case.dbf"), memoTableWithoutMemo());
        fs::create_hard_link(dir.file("A/damaged1.dbf"), dir.file("A/hard_after.dbf"));
        fs::create_hard_link(dir.file("A/damaged2.dbf"), dir.file("A/a_hard_before.dbf"));
        fs::create_symlink("damaged3.dbf", dir.file("A/z_link_after.dbf"));
        fs::create_symlink("damaged4.dbf", dir.file("A/b_link_before.dbf"));
        fs::create_symlink("../damaged5.dbf", dir.file("A/sub/other_name.dbf"));
        fs::create_symlink("../memo.dbf", dir.file("A/sub/deeper/memo_link.dbf"));
    }

    Snapshot run(std::vector<std::string> arguments, int jobs) {
        makeFolder();
        OtherProgramLock other(dir.file("A/inuse.dbf"), true);
        EXPECT_TRUE(other.holding());
        arguments.push_back("/jobs:" + std::to_string(jobs));
        arguments.push_back("/console");
        ProgramResult result = runProgram(
            {SALVORA_PROGRAM, arguments, dir.path(), {{"XDG_CONFIG_HOME", config.path()}}});
        Snapshot snapshot{result.exitCode, result.out, result.err, {}};
        for (const fs::directory_entry &entry : fs::recursive_directory_iterator(top())) {
            std::string name = entry.path().lexically_relative(dir.path()).string();
            if (entry.is_symlink())
                snapshot.files[name] = "link to " + fs::read_symlink(entry.path()).string();
            else if (entry.is_regular_file())
                snapshot.files[name] = textOf(readFile(entry.path().string()));
            else
                snapshot.files[name] = "folder";
        }
        return snapshot;
    }
};

TEST_F(CliJobs, ABatchOfSeveralJobsWritesWhatOneJobWrites) {
    std::vector<std::string> names;
    makeFolder();
    for (const fs::directory_entry &entry : fs::directory_iterator(top()))
        if (entry.path().extension() == ".dbf" || entry.path().extension() == ".DBF")
            names.push_back(entry.path().lexically_relative(dir.path()).string());
    std::sort(names.begin(), names.end());
    // A name given twice is the same table as itself, though its repaired file may have the
    // number of one an earlier repair freed.
    names.push_back("A/damaged3.dbf");
    struct Batch {
        const char *kind;
        std::vector<std::string> arguments;
        std::string line; // one line the output must hold
    };
    const std::vector<Batch> batches = {
        {"wildcard", {"A/*.dbf"}, "A/z_link_after.dbf: Skipped: same table as A/damaged3.dbf"},
        {"recursive",
         {"A/*.dbf", "/recurse"},
         "A/damaged5.dbf: Skipped: same table as A/sub/other_name.dbf"},
        {"names", names, "A/damaged3.dbf: Skipped: same table as A/damaged3.dbf"},
    };
    for (const Batch &batch : batches) {
        SCOPED_TRACE(batch.kind);
        Snapshot serial = run(batch.arguments, 1);
        EXPECT_EQ(serial.exitCode, 1) << serial.err;
        EXPECT_NE(serial.out.find(batch.line), std::string::npos) << serial.out;
        EXPECT_NE(serial.out.find("in use by another program"), std::string::npos) << serial.out;
        EXPECT_NE(serial.out.find("Unrecoverable"), std::string::npos) << serial.out;
        // As a run that lists the folder for each look-up finds it.
        EXPECT_TRUE(serial.files.count("A/CASE.dbt"));
        EXPECT_FALSE(serial.files.count("A/case.dbt"));
        for (int jobs : {2, 4, 8}) {
            SCOPED_TRACE(jobs);
            Snapshot parallel = run(batch.arguments, jobs);
            EXPECT_EQ(parallel.exitCode, serial.exitCode);
            EXPECT_EQ(parallel.out, serial.out);
            EXPECT_EQ(parallel.err, serial.err);
            for (const auto &[name, bytes] : serial.files)
                EXPECT_TRUE(parallel.files.count(name) && parallel.files.at(name) == bytes) << name;
            EXPECT_EQ(parallel.files.size(), serial.files.size());
        }
    }
}

TEST_F(CliJobs, AJobCountThatIsNoWholeNumberFromOneToSixtyFourIsRefused) {
    makeFolder();
    for (const char *count : {"0", "65", "two", "", "-1", "1.5"}) {
        SCOPED_TRACE(count);
        ProgramResult result = runProgram({SALVORA_PROGRAM,
                                           {"A/*.dbf", std::string("--jobs=") + count},
                                           dir.path(),
                                           {{"XDG_CONFIG_HOME", config.path()}}});
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err, "/jobs: takes a whole number from 1 to 64.\n");
        EXPECT_FALSE(fs::exists(dir.file("A/recovery.log")));
    }
}

} // namespace
} // namespace salvora::testing
