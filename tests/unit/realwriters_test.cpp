// What real writers store, and what no writer stores: the field tests keep the one and keep
// rejecting the other; the header search and the rebuild accept only what describes records.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/analysis.h"
#include "engine/recordchecks.h"
#include "engine/recovery.h"
#include "engine/runreport.h"
#include "engine/tablecheck.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::TableBuilder;
using testing::TempDir;

const std::filesystem::path realWorldFolder =
    std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "realworld";

// A record of one field holding `value`, as the checks judge it with no option set.
RecordVerdict verdictOn(char type, const std::string &value) {
    RecoveryJob job;
    FieldDescriptor field;
    field.bytes[0] = 'V';
    field.bytes[11] = static_cast<std::uint8_t>(type);
    field.bytes[16] = static_cast<std::uint8_t>(value.size());
    field.setDisplacement(1);
    job.fields = {field};
    job.fieldCount = 1;
    job.header.setType(0x03);
    job.header.setRecordLength(static_cast<std::uint16_t>(value.size() + 1));
    Bytes record = bytesOf(" " + value);
    RecoveryOptions options;
    DuplicateTable duplicates;
    return checkRecord(record, 0, options, job, duplicates);
}

TEST(RealWriters, FieldValuesWritersStoreAreKeptAndGarbageIsNot) {
    using namespace std::string_literals;
    struct Case {
        char type;
        std::string value;
        bool kept;
    } cases[] = {
        // Exponent notation of GIS writers.
        {'N', "1.3945052E+02", true},
        {'F', "  -2.5e-3", true},
        {'N', "     7E10", true},
        {'N', "1.5E02    ", true},
        // dBASE's overflow marker, and NUL bytes for padding.
        {'N', "**********", true},
        {'F', "  ********", true},
        {'N', " 1234.\0\0\0\0"s, true},
        {'N', "\0\0\0\0\0\0  12"s, true},
        {'N', "\0\0\0\0\0\0\0\0"s, true},
        // An empty date as several writers store it.
        {'D', "\0\0\0\0\0\0\0\0"s, true},
        // What no writer stores.
        {'N', "12A4", false},
        {'N', "  E5", false},
        {'N', "  1E", false},
        {'N', "1E+-2", false},
        {'N', "1E2.5", false},
        {'N', "1.5E2E3", false},
        {'N', "12-5", false},
        {'N', "1-2E5", false},
        {'N', "1,5", false},
        {'N', "+12", false},
        {'N',
         "12\0"
         "34"s,
         false},
        {'N', "**12", false},
        {'N', "*  *", false},
        {'D', "2023\0\0\0\0"s, false},
        {'D', "20231399", false},
        {'D', "20232001", false},
        {'D', "20231501", false},
        {'D', "20231232", false},
    };
    for (const Case &c : cases) {
        for (const std::string &value : {c.value, c.value + std::string(16, ' ')})
            EXPECT_EQ(verdictOn(c.type, value) == RecordVerdict::Keep, c.kept)
                << c.type << " \"" << value << "\"";
    }
}

class Structure : public ::testing::Test {
  protected:
    struct Analysed {
        RecoveryJob job;
        AnalysisResult result;
    };
    Analysed analyse(const Bytes &file) {
        testing::writeFile(dir.file("t.dbf"), file);
        return analyseFile(dir.file("t.dbf"));
    }
    Analysed analyseFile(const std::string &path) {
        Analysed a;
        a.job.sourcePath = path;
        a.job.memoName = path;
        EngineContext context(platform::nativePlatform());
        a.result = analyseStructure(context, a.job);
        EXPECT_TRUE(a.result.opened);
        closeSource(a.job); // the next file of the same name must open
        return a;
    }
    // Copies a real table (and its memo file) here under its own name; returns its path.
    std::string place(const std::string &table) {
        std::filesystem::path from = realWorldFolder / table;
        for (const auto &entry : std::filesystem::directory_iterator(from.parent_path())) {
            if (entry.path().stem() != from.stem())
                continue;
            std::string to = dir.file(entry.path().filename().string());
            std::filesystem::copy_file(entry.path(), to);
            std::filesystem::permissions(to, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
        }
        return dir.file(from.filename().string());
    }
    std::string report(const std::string &path, CheckVerdict &verdict) {
        struct Lines : TextSink {
            std::string text;
            void write(std::string_view t) override { text += t; }
        } lines;
        EngineContext context(platform::nativePlatform());
        RunReport r(path, ReportFormat::Text, &lines, true);
        verdict = checkTable(context, path, r);
        return lines.text + r.summaryText();
    }

    TempDir dir;
};

Bytes randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

TableBuilder people(std::uint8_t type = 0x03) {
    TableBuilder t(type);
    t.field("NAME", 'C', 12).field("AGE", 'N', 3);
    for (int i = 0; i < 40; ++i) {
        std::string name = "person" + std::to_string(i);
        t.record(name + std::string(12 - name.size(), ' ') + " 42", i % 7 == 3 ? '*' : ' ');
    }
    return t;
}

// Junk in front of or instead of a header must never become a header: the loophole of a
// record length of 1 with no fields, a level 7 mark in the first stray byte, random bytes.
TEST_F(Structure, OnlyWhatDescribesRecordsIsAHeader) {
    Bytes table = people().build();

    // 100 KB of junk whose last window, 12 bytes before the header, reads record length 1
    // and a terminator where its first descriptor would be.
    Bytes junk = randomBytes(100000, 3);
    std::size_t window = junk.size() - 12;
    junk[window + 8] = 65;
    junk[window + 9] = 0;
    junk[window + 10] = 1;
    junk[window + 11] = 0;
    Bytes file = testing::concat(junk, table);
    file[window + 32] = 0x0D;
    Analysed loophole = analyse(file);
    ASSERT_FALSE(loophole.result.abort);
    EXPECT_EQ(loophole.result.headerOffset, junk.size());
    EXPECT_EQ(loophole.job.fieldCount, 2);

    // Seven stray bytes whose first has the level 7 mark.
    Bytes stray = testing::concat(bytesOf("\x54\x13\xE7\x02\x9A\x41\x6D"), table);
    Analysed strayed = analyse(stray);
    ASSERT_FALSE(strayed.result.abort);
    EXPECT_EQ(strayed.result.headerOffset, 7u);
    EXPECT_EQ(strayed.job.header.recordCount(), 40u);

    // Random bytes are no table, nor are they with one descriptor's worth of junk behind a
    // zeroed header.
    Bytes random = randomBytes(4u << 20, 5);
    EXPECT_TRUE(analyse(random).result.abort);
    Bytes lookalike = randomBytes(1u << 20, 9);
    std::fill(lookalike.begin(), lookalike.begin() + 32, 0);
    lookalike[32] = 'X';
    lookalike[43] = 'C';
    lookalike[48] = 10;
    lookalike[64] = 0x0D;
    EXPECT_TRUE(analyse(lookalike).result.abort);
}

// A junk header whose first records happen to start with flags is still found out by the
// records further on.
TEST_F(Structure, LaterRecordsAreSampledToo) {
    Bytes file = randomBytes(200000, 13);
    for (auto &b : file)
        b = b == ' ' || b == '*' || b == 0 ? 'x' : b;
    Bytes header = TableBuilder().field("A", 'C', 9).header();
    std::size_t at = 5000;
    std::copy(header.begin(), header.end(), file.begin() + static_cast<long>(at));
    for (int i = 0; i < 12; ++i)
        file[at + header.size() + 10 * static_cast<std::size_t>(i)] = ' ';
    Analysed a = analyse(file);
    EXPECT_TRUE(a.result.abort || a.result.headerOffset != at);
}

// Visual FoxPro tables with only the fields dBASE has too are told by their backlink area
// after a zeroed header; a dBASE table of the same fields is not taken for one.
TEST_F(Structure, ZeroedVisualFoxProHeaderIsToldByItsBacklink) {
    for (std::string backlink : {std::string(), std::string("..\\data\\sales.dbc")}) {
        TableBuilder t = people(0x30);
        t.backlink(backlink);
        Bytes file = t.build();
        std::fill(file.begin(), file.begin() + 32, 0);
        Analysed a = analyse(file);
        ASSERT_FALSE(a.result.abort);
        EXPECT_EQ(a.job.header.type(), 0x30) << backlink;
        EXPECT_EQ(a.job.header.headerLength(), 32 * 2 + 296);
        EXPECT_EQ(a.job.dataStart, 32u * 3 + 264);
        EXPECT_EQ(a.job.header.recordCount(), 40u);
    }
    Bytes dbase = people().build();
    std::fill(dbase.begin(), dbase.begin() + 32, 0);
    Analysed a = analyse(dbase);
    ASSERT_FALSE(a.result.abort);
    EXPECT_EQ(a.job.header.type(), 0x03);
    EXPECT_EQ(a.job.dataStart, 32u * 3 + 1);
}

// Some writers leave a NUL byte after the terminator. Records one byte off would still show
// blanks where the flags should be (the last bytes of blank-padded names): the start whose
// flags look best wins.
TEST_F(Structure, RecordsAfterAGapBehindTheTerminatorAreFound) {
    TableBuilder t;
    t.field("AGE", 'N', 3).field("NAME", 'C', 12);
    for (int i = 0; i < 30; ++i)
        t.record(" 42ann", i % 5 == 2 ? '*' : ' ');
    Bytes file = t.build();
    std::size_t terminator = 32 * 3;
    file.insert(file.begin() + static_cast<long>(terminator) + 1, 0);
    std::fill(file.begin(), file.begin() + 32, 0);
    Analysed a = analyse(file);
    ASSERT_TRUE(a.result.relocated);
    EXPECT_EQ(a.job.dataStart, terminator + 2);
    EXPECT_EQ(a.job.header.recordCount(), 30u);
}

TEST_F(Structure, CodePageMarkIsKeptWhenItSurvivesAndReportedWhenNot) {
    Bytes table = people().build();
    table[29] = 0xC9;
    // Stray bytes in front: the header is found whole.
    EXPECT_EQ(analyse(testing::concat(bytesOf("junk!!!"), table)).job.header.codePage(), 0xC9);
    // A header rejected for its record length of 0: rebuilt, with the mark it had.
    Bytes rejected = table;
    rejected[10] = rejected[11] = 0;
    Analysed a = analyse(rejected);
    ASSERT_TRUE(a.result.relocated);
    EXPECT_EQ(a.job.header.codePage(), 0xC9);
    EXPECT_FALSE(a.result.codePageLost);
    // Zeroed: nothing to keep, and the check says so.
    Bytes zeroed = table;
    std::fill(zeroed.begin(), zeroed.begin() + 32, 0);
    testing::writeFile(dir.file("z.dbf"), zeroed);
    CheckVerdict verdict;
    std::string text = report(dir.file("z.dbf"), verdict);
    EXPECT_NE(text.find("code page mark lost with the header"), std::string::npos) << text;
}

// The examples of real tables: a dBASE IV memo whose title names another table, a level 7
// table without its memo file, pictures in a dBASE III memo.
TEST_F(Structure, RealMemoLayoutsAreReadFromTheMemoFile) {
    if (!std::filesystem::exists(realWorldFolder))
        GTEST_SKIP() << "no real tables";
    {
        std::string path = place("infused-dbf/dbase_8b.dbf");
        Bytes bytes = testing::readFile(path);
        std::fill(bytes.begin(), bytes.begin() + 32, 0);
        testing::writeFile(path, bytes);
        Analysed a = analyseFile(path);
        ASSERT_TRUE(a.result.relocated);
        EXPECT_EQ(a.job.header.type(), 0x8B) << "the memo file's blocks are dBASE IV ones";
    }
    {
        std::string path = place("infused-dbf/dbase_8c.dbf");
        CheckVerdict verdict;
        std::string text = report(path, verdict);
        EXPECT_EQ(verdict, CheckVerdict::NeedsRepair);
        EXPECT_NE(text.find("Record 10, field Descriptio: memo reference to block"),
                  std::string::npos)
            << text;
    }
}

} // namespace
} // namespace salvora
