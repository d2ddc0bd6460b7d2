// Tables written by other programs (tests/data/realworld), repaired as they are and after the
// damages a table typically suffers: every record and memo must come back. Prints how many
// tables come back whole after each damage.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/recovery.h"
#include "engine/tablecheck.h"
#include "tests/support/tablevalues.h"

namespace salvora::testing {
namespace {

const std::filesystem::path realWorldFolder =
    std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "realworld";

// Every table of the folder that its writer meant as it is (the folder also holds tables
// damaged on purpose, which the check must call damaged).
const char *const soundTables[] = {
    "dbase-rs/contain_null_padded_numeric.dbf",
    "dbase-rs/contain_none_float.dbf",
    "dbase-rs/cp850.dbf",
    "dbase-rs/cp936.dbf",
    "dbase-rs/KUNDEN-schema-only.DBF",
    "dbf_reader/dbase3.dbf",
    "dbf_reader/dbase5.dbf",
    "dbfread/memotest.dbf",
    "dbfread/people.dbf",
    "go-dbase/employees.dbf",
    "go-dbase/expense reports.dbf",
    "go-dbase/expense details.dbf",
    "go-dbase/TEST.DBF",
    "infused-dbf/dbase_03.dbf",
    "infused-dbf/dbase_03_cyrillic.dbf",
    "infused-dbf/dbase_31.dbf",
    "infused-dbf/dbase_32.dbf",
    "infused-dbf/dbase_83.dbf",
    "infused-dbf/dbase_8b.dbf",
    "infused-dbf/dbase_8c.dbf",
    "infused-dbf/calls.dbf",
    "infused-dbf/contacts.dbf",
    "infused-dbf/cp1251.dbf",
    "infused-dbf/mazovia.dbf",
    "infused-dbf/setup.dbf",
    "infused-dbf/types.dbf",
    "mbostock-shapefile/boolean-property.dbf",
    "mbostock-shapefile/date-property.dbf",
    "mbostock-shapefile/mixed-properties.dbf",
    "mbostock-shapefile/number-null-property.dbf",
    "mbostock-shapefile/utf8-property.dbf",
    "php-xbase/dBaseIII.dbf",
    "php-xbase/dBaseIII_nomemo.dbf",
    "php-xbase/socios.dbf",
    "php-xbase/cbrf_122019N1.dbf",
    "php-xbase/currency.dbf",
    "php-xbase/issue115.dbf",
    "php-xbase/pr90.dbf",
    "php-xbase/visual_fox_pro6.dbf",
    "php-xbase/dBaseVII_double.dbf",
    "php-xbase/dBaseVII_int.dbf",
    "php-xbase/dBaseVII_ts.dbf",
    "php-xbase/91.dbf",
};

enum class Damage {
    None,
    CountZero,
    CountAll,
    HeaderZeroed,
    StrayBytes,
    LastRecordCut,
    MemoRemoved
};
const std::pair<Damage, const char *> damages[] = {
    {Damage::None, "as shipped"},
    {Damage::CountZero, "count 0"},
    {Damage::CountAll, "count 0xFFFFFFFF"},
    {Damage::HeaderZeroed, "first 32 bytes zeroed"},
    {Damage::StrayBytes, "7 stray bytes in front"},
    {Damage::LastRecordCut, "last record cut"},
    {Damage::MemoRemoved, "memo file removed"},
};

// Damages a table cannot come back from whole, with the reason; no damage named: every one.
struct BeyondRepair {
    const char *table;
    std::optional<Damage> damage;
    const char *why;
};
const BeyondRepair beyondRepair[] = {
    {"infused-dbf/mazovia.dbf", Damage::None,
     "its writer stores NUL deletion flags: the check reports them, the repair writes blanks"},
    {"mbostock-shapefile/number-null-property.dbf", Damage::None,
     "its header's last-update month is 0: the check reports it, the repair sets today"},
    {"php-xbase/socios.dbf", std::nullopt,
     "record 2 holds \"1,200.00\" in a numeric field, and a comma is no part of a number"},
    {"infused-dbf/dbase_8c.dbf", Damage::HeaderZeroed,
     "level 7 descriptors are 48 bytes long: without the header nothing tells where they are"},
    {"php-xbase/dBaseVII_double.dbf", Damage::HeaderZeroed, "level 7, as above"},
    {"php-xbase/dBaseVII_int.dbf", Damage::HeaderZeroed, "level 7, as above"},
    {"php-xbase/dBaseVII_ts.dbf", Damage::HeaderZeroed, "level 7, as above"},
};

bool isBeyondRepair(const std::string &table, Damage damage) {
    for (const BeyondRepair &known : beyondRepair)
        if (table == known.table && (!known.damage || *known.damage == damage))
            return true;
    return false;
}

void putLe32(Bytes &b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Outcome {
    bool applicable = true;
    std::string problem; // empty: came back whole
};

class RealWorld : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(realWorldFolder))
            GTEST_SKIP() << "no real tables at " << realWorldFolder;
    }

    // Copies the table (and its memo file) into a fresh folder under its own name.
    std::string place(const TempDir &dir, const std::string &table) {
        std::filesystem::path from = realWorldFolder / table;
        std::string to = dir.file(from.filename().string());
        std::filesystem::copy_file(from, to);
        std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
        std::string memo = memoBeside(from.string());
        if (!memo.empty()) {
            std::string memoTo = dir.file(std::filesystem::path(memo).filename().string());
            std::filesystem::copy_file(memo, memoTo);
            std::filesystem::permissions(memoTo, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
        }
        return to;
    }

    CheckVerdict check(const std::string &path) {
        EngineContext context(platform::nativePlatform());
        RunReport report(path, ReportFormat::Text, nullptr, true);
        return checkTable(context, path, report);
    }

    int repair(const TempDir &dir, const std::string &source, const std::string &output) {
        WorkingFolder cwd(dir.path());
        EngineContext context(platform::nativePlatform());
        return runRecovery(context, nullptr, source, output, false);
    }

    std::string repairedProblem(const TempDir &dir, const std::string &source,
                                const TableValues &expected) {
        std::string output = dir.file("out.dbf");
        if (int result = repair(dir, source, output); result != recoveryFixed)
            return "repair ended with " + std::to_string(result);
        std::optional<TableValues> got = readTableValues(output, memoBeside(output));
        if (!got)
            return "the output's header does not describe its records";
        if (got->memoMissing)
            return "the output refers to memos its memo file lacks";
        return compareValues(*got, expected);
    }

    Outcome run(const std::string &table, Damage damage, const TableValues &original) {
        TempDir dir;
        std::string path = place(dir, table);
        std::string memo = memoBeside(path);
        Bytes bytes = readFile(path);
        TableValues expected = original;
        Outcome outcome;
        switch (damage) {
        case Damage::None:
            break;
        case Damage::CountZero:
            putLe32(bytes, 4, 0);
            break;
        case Damage::CountAll:
            putLe32(bytes, 4, 0xFFFFFFFF);
            break;
        case Damage::HeaderZeroed:
            // Nothing but the header tells a table without fields.
            outcome.applicable = !original.fields.empty();
            std::fill(bytes.begin(), bytes.begin() + 32, 0);
            break;
        case Damage::StrayBytes: {
            // The first stray byte has (b & 7) == 4, the level 7 mark.
            const Bytes stray = {0x54, 0x13, 0xE7, 0x02, 0x9A, 0x41, 0x6D};
            bytes.insert(bytes.begin(), stray.begin(), stray.end());
            break;
        }
        case Damage::LastRecordCut: {
            outcome.applicable = !original.records.empty();
            if (!outcome.applicable)
                break;
            std::size_t recordLength = bytes[10] | bytes[11] << 8;
            std::size_t headerLength = bytes[8] | bytes[9] << 8;
            std::size_t end =
                headerLength + (original.records.size() - 1) * recordLength + recordLength / 2;
            bytes.resize(end);
            expected.records.pop_back();
            break;
        }
        case Damage::MemoRemoved:
            outcome.applicable = !memo.empty();
            if (!outcome.applicable)
                break;
            std::filesystem::remove(memo);
            for (auto &record : expected.records)
                for (std::size_t f = 0; f < original.fields.size(); ++f)
                    if (original.fields[f].memo)
                        record[f + 1].clear();
            break;
        }
        if (!outcome.applicable)
            return outcome;
        writeFile(path, bytes);
        // References into a memo file that is not there are damage, the check must say so.
        if (damage == Damage::None &&
            (check(path) == CheckVerdict::Sound) == original.memoMissing) {
            outcome.problem = original.memoMissing ? "the check misses references without memos"
                                                   : "the check calls the table damaged";
            return outcome;
        }
        bool referencesLost = false;
        for (const auto &record : original.records)
            for (std::size_t f = 0; f < original.fields.size(); ++f)
                referencesLost |= original.fields[f].memo && !record[f + 1].empty();
        if (damage == Damage::MemoRemoved && referencesLost && check(path) == CheckVerdict::Sound) {
            outcome.problem = "the check calls the table sound without its memo file";
            return outcome;
        }
        outcome.problem = repairedProblem(dir, path, expected);
        if (!outcome.problem.empty() || damage != Damage::None)
            return outcome;

        // A repaired table needs no repair: a second one changes no byte.
        std::string first = dir.file("out.dbf");
        std::string second = dir.file("again.dbf");
        if (repair(dir, first, second) != recoveryFixed) {
            outcome.problem = "the repaired table cannot be repaired again";
        } else if (readFile(first) != readFile(second)) {
            outcome.problem = "a second repair changes the table";
        } else {
            std::string firstMemo = memoBeside(first), secondMemo = memoBeside(second);
            if (firstMemo.empty() != secondMemo.empty() ||
                (!firstMemo.empty() && readFile(firstMemo) != readFile(secondMemo)))
                outcome.problem = "a second repair changes the memo file";
        }
        return outcome;
    }
};

TEST_F(RealWorld, EveryTableComesBackWholeAfterEachDamage) {
    std::map<Damage, std::pair<int, int>> counts; // whole, applicable
    for (const char *table : soundTables) {
        SCOPED_TRACE(table);
        std::filesystem::path path = realWorldFolder / table;
        std::optional<TableValues> original =
            readTableValues(path.string(), memoBeside(path.string()));
        EXPECT_TRUE(original) << "the test cannot read " << table;
        if (!original)
            continue;
        for (auto [damage, name] : damages) {
            Outcome outcome = run(table, damage, *original);
            if (!outcome.applicable)
                continue;
            ++counts[damage].second;
            if (outcome.problem.empty())
                ++counts[damage].first;
            else
                std::printf("  not whole: %s, %s: %s\n", table, name, outcome.problem.c_str());
            if (!isBeyondRepair(table, damage)) {
                EXPECT_EQ(outcome.problem, "") << table << ", " << name;
            }
        }
    }
    std::printf("Tables that come back whole:\n");
    for (auto [damage, name] : damages)
        std::printf("  %-24s %d of %d\n", name, counts[damage].first, counts[damage].second);
}

} // namespace
} // namespace salvora::testing
