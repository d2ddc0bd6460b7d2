// The built program with /check and /report:: exit codes, the summary, the report file, and
// proof that a check changes no byte and makes no file.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/memobuilder.h"
#include "tests/support/programrunner.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

TableBuilder people() {
    TableBuilder t;
    t.field("NAME", 'C', 6).field("OK", 'L', 1).field("BORN", 'D', 8).field("AGE", 'N', 3);
    t.record("Alice T20010203 30").record("Bob   F19991231  4", '*');
    return t;
}

// Record 1's logical field holds '1', which a repair turns into a blank.
Bytes changedLogical() {
    Bytes b = people().build();
    b[people().computedHeaderLength() + 7] = '1';
    return b;
}

// Every file of a folder with its bytes and modification time.
struct Snapshot {
    std::map<std::string, std::pair<Bytes, std::filesystem::file_time_type>> files;
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(const std::string &folder) {
    Snapshot s;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        s.files[entry.path().filename().string()] = {readFile(entry.path().string()),
                                                     entry.last_write_time()};
    return s;
}

class CliCheck : public ::testing::Test {
  protected:
    TempDir dir;
    TempDir config;

    ProgramResult run(const std::vector<std::string> &arguments) {
        return runProgram(
            {SALVORA_PROGRAM, arguments, dir.path(), {{"XDG_CONFIG_HOME", config.path()}}});
    }
    // Runs a check and expects the folder (also the working folder) to be exactly as before.
    ProgramResult checkUntouched(const std::vector<std::string> &arguments) {
        Snapshot before = snapshot(dir.path());
        ProgramResult result = run(arguments);
        EXPECT_TRUE(snapshot(dir.path()) == before) << "the check changed the folder";
        return result;
    }
};

TEST_F(CliCheck, SoundTableExitsZeroAndChangesNothing) {
    writeFile(dir.file("x.dbf"), people().build());
    ProgramResult result = checkUntouched({"x.dbf", "/check"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Mode: check only, nothing written\n"), std::string::npos);
    EXPECT_NE(result.out.find("Records read: 2\n"), std::string::npos);
    EXPECT_NE(result.out.find("Verdict: no repair needed\n"), std::string::npos);
    EXPECT_EQ(result.out.find(": OK"), std::string::npos) << "no repair result line";
}

TEST_F(CliCheck, MemoTableMakesNoTemporaryMemo) {
    BuiltMemo memo = foxProMemoFile(64, {{1, bytesOf("note")}});
    TableBuilder t(0xF5);
    t.field("NAME", 'C', 4).field("NOTES", 'M', 10).record("aaaa" + memoReference(memo.blocks[0]));
    writeFile(dir.file("m.dbf"), t.build());
    writeFile(dir.file("m.fpt"), memo.file);
    ProgramResult result = checkUntouched({"m.dbf", "--check"});
    EXPECT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.out.find("Memos carried: 1\n"), std::string::npos);
}

TEST_F(CliCheck, EachDamageClassExitsOneAndChangesNothing) {
    Bytes sound = people().build();
    std::size_t first = people().computedHeaderLength();
    auto changed = [&](std::size_t at, const std::string &bytes) {
        Bytes b = sound;
        std::copy(bytes.begin(), bytes.end(), b.begin() + static_cast<long>(at));
        return b;
    };
    Bytes wrecked = sound;
    std::fill(wrecked.begin(), wrecked.begin() + 32, 0xFF);
    BuiltMemo memo = foxProMemoFile(64, {{1, bytesOf("note")}});
    TableBuilder lost(0xF5);
    lost.field("NOTES", 'M', 10).record(memoReference(4000));
    const std::vector<std::pair<std::string, Bytes>> damages = {
        {"header rebuilt", wrecked},
        {"header after junk", concat(bytesOf("junk"), sound)},
        {"record count", TableBuilder(people()).recordCount(9).build()},
        {"deletion flag", changed(first, "x")},
        {"logical", changed(first + 7, "1")},
        {"date", changed(first + 8, "2001 2 3")},
        {"number", changed(first + 16, "3-0")},
        {"invalid memo", lost.build()},
    };
    writeFile(dir.file("d.fpt"), memo.file);
    for (const auto &[what, table] : damages) {
        SCOPED_TRACE(what);
        writeFile(dir.file("d.dbf"), table);
        ProgramResult result = checkUntouched({"d.dbf", "/check"});
        EXPECT_EQ(result.exitCode, 1) << result.out << result.err;
        EXPECT_NE(result.out.find("Verdict: needs repair\n"), std::string::npos);
    }
}

TEST_F(CliCheck, UnreadableSourceExitsTwo) {
    writeFile(dir.file("bad.dbf"), bytesOf("this is not a table"));
    ProgramResult bad = checkUntouched({"bad.dbf", "/check"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.out.find("Verdict: cannot be read\n"), std::string::npos);
    EXPECT_EQ(checkUntouched({"missing.dbf", "/check"}).exitCode, 2);
}

TEST_F(CliCheck, ReadOnlySourceIsCheckedAndStaysReadOnly) {
    writeFile(dir.file("x.dbf"), people().build());
    std::filesystem::permissions(dir.file("x.dbf"), std::filesystem::perms::owner_read |
                                                        std::filesystem::perms::group_read);
    ProgramResult result = checkUntouched({"x.dbf", "/check"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(std::filesystem::status(dir.file("x.dbf")).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
}

TEST_F(CliCheck, ReportOfACheckIsTheOnlyFileMade) {
    writeFile(dir.file("x.dbf"), changedLogical());
    Snapshot before = snapshot(dir.path());
    ProgramResult result = run({"x.dbf", "/check", "/report:r.csv"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    Snapshot after = snapshot(dir.path());
    ASSERT_EQ(after.files.count("r.csv"), 1u);
    after.files.erase("r.csv");
    EXPECT_TRUE(after == before);
    std::string report = textOf(readFile(dir.file("r.csv")));
    EXPECT_EQ(report.rfind("record,field,problem,action\r\n"
                           "1,OK,\"logical value \"\"1\"\"\",repaired to a blank\r\n"
                           ",,Table,x.dbf\r\n",
                           0),
              0u)
        << report;
    EXPECT_NE(report.find(",,Verdict,needs repair\r\n"), std::string::npos);
}

TEST_F(CliCheck, RepairWithAReportWritesBoth) {
    writeFile(dir.file("x.dbf"), changedLogical());
    ProgramResult result = run({"x.dbf", "/output:y.dbf", "/pack", "/report:r.txt"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(fileExists(dir.file("y.dbf")));
    std::string report = textOf(readFile(dir.file("r.txt")));
    EXPECT_EQ(report.rfind("Record 1, field OK: logical value \"1\"; repaired to a blank\r\n"
                           "Record 2: marked as deleted; record dropped by /pack\r\n"
                           "\r\n"
                           "Table: x.dbf\r\n"
                           "Mode: repair\r\n"
                           "Result: OK\r\n",
                           0),
              0u)
        << report;
    EXPECT_NE(report.find("Records kept: 1\r\nRecords dropped: 1\r\nDropped by /pack: 1\r\n"),
              std::string::npos);
}

TEST_F(CliCheck, CheckAndReportTakeOneTableAndNeverOverwriteIt) {
    writeFile(dir.file("a.dbf"), people().build());
    writeFile(dir.file("b.dbf"), people().build());
    EXPECT_EQ(checkUntouched({"a.dbf", "b.dbf", "/check"}).exitCode, 2);
    EXPECT_EQ(checkUntouched({"*.dbf", "/check"}).exitCode, 2);
    EXPECT_EQ(checkUntouched({"a.dbf", "b.dbf", "/report:r.txt"}).exitCode, 2);
    EXPECT_EQ(checkUntouched({"a.dbf", "/check", "/report:a.dbf"}).exitCode, 2);
    EXPECT_EQ(checkUntouched({"a.dbf", "/output:b.dbf", "/report:b.dbf"}).exitCode, 2);
}

TEST_F(CliCheck, HelpListsBothSwitches) {
    ProgramResult help = run({"--help"});
    EXPECT_NE(help.out.find("/check"), std::string::npos);
    EXPECT_NE(help.out.find("/report:FILE"), std::string::npos);
}

} // namespace
} // namespace salvora::testing
