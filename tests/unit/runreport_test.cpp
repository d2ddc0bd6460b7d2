// The report of a repair: one line per finding with the record, the field, what was wrong and
// what was done, then the summary; plain text or CSV. A run without a report is unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recordchecks.h"
#include "engine/recovery.h"
#include "engine/reportjson.h"
#include "engine/runreport.h"
#include "tests/support/memobuilder.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::bytesOf;
using testing::memoReference;
using testing::TableBuilder;
using testing::TempDir;

class Captured : public TextSink {
  public:
    void write(std::string_view text) override { text_ += text; }
    std::string text_;
};

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

class RunReportTest : public ::testing::Test {
  protected:
    // Repairs a.dbf into b.dbf with a report and returns the report's finding lines.
    std::vector<std::string> repair(const Bytes &table, ReportFormat format = ReportFormat::Text,
                                    RecoveryWindow *window = nullptr) {
        testing::writeFile(dir.file("a.dbf"), table);
        report = std::make_unique<RunReport>("a.dbf", format, &lines, false);
        context.report = report.get();
        int result =
            runRecovery(context, window, dir.file("a.dbf"), dir.file("b.dbf"), window != nullptr);
        context.report = nullptr;
        EXPECT_EQ(result, recoveryFixed);
        return linesOf(lines.text_);
    }
    std::string summaryItem(const std::string &item) {
        for (const std::string &line : linesOf(report->summaryText()))
            if (line.rfind(item + ": ", 0) == 0)
                return line.substr(item.size() + 2);
        return "(none)";
    }

    TempDir dir;
    EngineContext context{platform::nativePlatform()};
    Captured lines;
    std::unique_ptr<RunReport> report;
};

TEST_F(RunReportTest, SoundTableHasNoFindingsAndASummary) {
    TableBuilder t;
    t.field("NAME", 'C', 5).record("one").record("two", '*');
    EXPECT_TRUE(repair(t.build()).empty());
    EXPECT_FALSE(report->needsRepair());
    EXPECT_EQ(linesOf(report->summaryText()),
              (std::vector<std::string>{"Table: a.dbf", "Mode: repair",
                                        "Table kind: FoxBase+/dBASE III PLUSE, no memo (0x03)",
                                        "Header: sound", "Fields: 1", "Records read: 2",
                                        "Records kept: 2", "Records dropped: 0", "Memos carried: 0",
                                        "Invalid memo references: 0", "Findings: 0"}));
}

TEST_F(RunReportTest, FieldTestsSayWhatWasWrongAndWhatWasDone) {
    TableBuilder t;
    t.field("OK", 'L', 1).field("BORN", 'D', 8).field("AGE", 'N', 4);
    t.record("*20230507  12");
    t.record("T2023 5 7  12");
    t.record("F20230507 1-2");
    Bytes bytes = t.build();
    bytes[t.computedHeaderLength() + 0] = 'x'; // deletion flag of record 1
    EXPECT_EQ(repair(bytes),
              (std::vector<std::string>{
                  "Record 1, field OK: logical value \"*\"; repaired to a blank",
                  "Record 1: deletion flag \"x\"; repaired to a blank",
                  "Record 2, field BORN: date \"2023 5 7\" is not YYYYMMDD; record dropped by the "
                  "date test",
                  "Record 3, field AGE: number \" 1-2\" has a character no number has; record "
                  "dropped by the numeric test",
              }));
    EXPECT_EQ(summaryItem("Records kept"), "1");
    EXPECT_EQ(summaryItem("Records dropped"), "2");
    EXPECT_EQ(summaryItem("Dropped by the date test"), "1");
    EXPECT_EQ(summaryItem("Dropped by the numeric test"), "1");
    EXPECT_EQ(summaryItem("Findings"), "4");
}

TEST_F(RunReportTest, DateTimeOutOfRangeShowsTheDayNumber) {
    TableBuilder t(0x30);
    t.field("WHEN", 'T', 8);
    t.rawRecord({' ', 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0});
    EXPECT_EQ(repair(t.build()),
              (std::vector<std::string>{"Record 1, field WHEN: date-time day number 2147483647 "
                                        "outside the years 1900 to 3000; record dropped by the "
                                        "date-time test"}));
    EXPECT_EQ(summaryItem("Dropped by the date-time test"), "1");
}

TEST_F(RunReportTest, FiltersNameTheirSwitch) {
    TableBuilder t;
    t.field("NAME", 'C', 5);
    t.record("gone", '*').record("").record("same").record("same");
    context.options.pack = 1;
    context.options.deleteEmpty = 1;
    context.options.deleteDuplicates = 1;
    EXPECT_EQ(repair(t.build()), (std::vector<std::string>{
                                     "Record 1: marked as deleted; record dropped by /pack",
                                     "Record 2: empty record; record dropped by /delempty",
                                     "Record 4: duplicate of record 3; record dropped by /deldups",
                                 }));
    EXPECT_EQ(summaryItem("Dropped by /pack"), "1");
    EXPECT_EQ(summaryItem("Dropped by /delempty"), "1");
    EXPECT_EQ(summaryItem("Dropped by /deldups"), "1");
    EXPECT_EQ(summaryItem("Records kept"), "1");
}

TEST_F(RunReportTest, UndeletedAndDeletedNotKept) {
    TableBuilder t;
    t.field("NAME", 'C', 5).record("back", '*');
    context.options.recoverDeleted = 1;
    EXPECT_EQ(repair(t.build()),
              (std::vector<std::string>{"Record 1: marked as deleted; deletion mark removed by "
                                        "/recoverydeleted, record kept"}));

    context.options.recoverDeleted = 0;
    lines.text_.clear();
    testing::RecordingWindow window;
    window.keepDeletedChecked = false;
    EXPECT_EQ(repair(t.build(), ReportFormat::Text, &window),
              (std::vector<std::string>{
                  "Record 1: marked as deleted; record dropped (deleted records are not kept)"}));
    EXPECT_EQ(summaryItem("Dropped as deleted"), "1");
}

TEST_F(RunReportTest, InvalidMemoReferencesAreClearedOrDropTheRecord) {
    testing::BuiltMemo memo = testing::foxProMemoFile(64, {{1, bytesOf("kept")}});
    testing::writeFile(dir.file("a.fpt"), memo.file);
    TableBuilder t(0xF5);
    t.field("NAME", 'C', 4).field("NOTES", 'M', 10);
    t.record("aaaa" + memoReference(memo.blocks[0]));
    t.record("bbbb" + memoReference(9999));
    EXPECT_EQ(repair(t.build()),
              (std::vector<std::string>{"Record 2, field NOTES: memo reference to block 9999 "
                                        "leads to no sound memo; reference cleared (no memo)"}));
    EXPECT_EQ(summaryItem("Memos carried"), "1");
    EXPECT_EQ(summaryItem("Invalid memo references"), "1");
    EXPECT_EQ(summaryItem("Records kept"), "2");

    lines.text_.clear();
    context.options.deleteInvalidMemo = 1;
    EXPECT_EQ(repair(t.build()),
              (std::vector<std::string>{
                  "Record 2, field NOTES: memo reference to block 9999 leads to no sound memo; "
                  "reference cleared, record dropped (delete records with invalid memo)"}));
    EXPECT_EQ(summaryItem("Dropped for an invalid memo reference"), "1");
}

TEST_F(RunReportTest, GeneralFieldLeadingNowhereIsClearedByTheTransfer) {
    testing::BuiltMemo memo = testing::foxProMemoFile(64, {{0, bytesOf("picture")}});
    testing::writeFile(dir.file("a.fpt"), memo.file);
    TableBuilder t(0x30);
    t.field("PIC", 'G', 4).field("LOST", 'G', 4).tableFlags(0x02);
    t.rawRecord(testing::concat(testing::concat({' '}, le32(memo.blocks[0])), le32(5000)));
    EXPECT_EQ(repair(t.build()),
              (std::vector<std::string>{"Record 1, field LOST: memo reference to block 5000 "
                                        "leads to no sound memo; reference cleared (no memo)"}));
    EXPECT_EQ(summaryItem("Memos carried"), "1");
    EXPECT_EQ(summaryItem("Invalid memo references"), "1");
}

TEST_F(RunReportTest, HeaderFindingsAreTableLines) {
    TableBuilder t;
    t.field("NAME", 'C', 5).record("one").record("two").recordCount(7).date(124, 0, 7);
    Bytes shifted = testing::concat(bytesOf("junk"), t.build());
    EXPECT_EQ(repair(shifted),
              (std::vector<std::string>{
                  "Table: header found at offset 4, after damaged bytes; moved to the start of "
                  "the file",
                  "Table: header says 7 records, the file holds 2; record count set to the "
                  "records kept",
                  "Table: last-update date missing; set to today",
              }));
    EXPECT_EQ(summaryItem("Header"), "found at offset 4");
}

TEST_F(RunReportTest, CsvHasAHeaderRowQuotesWhereNeededAndSummaryRows) {
    TableBuilder t;
    t.field("AGE", 'N', 4).record("1,5");
    std::vector<std::string> csv = repair(t.build(), ReportFormat::Csv);
    ASSERT_EQ(csv.size(), 2u);
    EXPECT_EQ(csv[0], "record,field,problem,action");
    EXPECT_EQ(csv[1], "1,AGE,\"number \"\"1,5 \"\" has a character no number has\",record dropped "
                      "by the numeric test");
    report->close();
    std::vector<std::string> all = linesOf(lines.text_);
    EXPECT_EQ(all[2], ",,Table,a.dbf");
    EXPECT_EQ(all[3], ",,Mode,repair");
    EXPECT_EQ(all.back(), ",,Findings,1");
}

TEST_F(RunReportTest, ReportFormatFollowsTheExtension) {
    EXPECT_EQ(reportFormatFor("r.csv"), ReportFormat::Csv);
    EXPECT_EQ(reportFormatFor("R.CSV"), ReportFormat::Csv);
    EXPECT_EQ(reportFormatFor("r.txt"), ReportFormat::Text);
    EXPECT_EQ(reportFormatFor("csv"), ReportFormat::Text);
    EXPECT_EQ(reportFormatFor("r.csv.txt"), ReportFormat::Text);
    EXPECT_EQ(reportFormatFor("r.json"), ReportFormat::Json);
    EXPECT_EQ(reportFormatFor("R.Json"), ReportFormat::Json);
    EXPECT_EQ(reportFormatFor("json"), ReportFormat::Text);
}

// Names come from damaged files and old code pages: whatever the bytes, the JSON stays valid.
TEST(JsonString, AnyBytesGiveAValidJsonString) {
    struct Case {
        std::string bytes;
        std::string json;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("t\x01\n\x7F", 4), "\"t\\u0001\\u000a\\u007f\""},
        {"\xC3\xA9t\xC3\xA9", "\"\xC3\xA9t\xC3\xA9\""},   // UTF-8 kept
        {"\xC9TAT", "\"\xC3\x89TAT\""},                   // Latin-1 byte
        {"\xC3", "\"\xC3\x83\""},                         // cut sequence
        {"\xE0\x80\x80", "\"\xC3\xA0\xC2\x80\xC2\x80\""}, // overlong
        {"\xED\xA0\x80", "\"\xC3\xAD\xC2\xA0\xC2\x80\""}, // surrogate
        {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},     // four bytes kept
    };
    for (const Case &c : cases)
        EXPECT_EQ(jsonString(c.bytes), c.json) << c.bytes;
}

// The sink only listens: the verdict and the repaired bytes are those of a run without it.
TEST_F(RunReportTest, ChecksDecideTheSameWithAndWithoutASink) {
    TableBuilder t;
    t.field("OK", 'L', 1).field("BORN", 'D', 8).field("AGE", 'N', 4);
    t.record("x20230507  12").record("T2023 5 7  12").record("120230507  12", 'x');
    t.record("T20230507  12").record("T20230507  12");
    Bytes table = t.build();
    testing::writeFile(dir.file("a.dbf"), table);
    RecoveryJob job;
    job.header.bytes[0] = 0x03;
    job.fields.resize(3);
    std::uint16_t displacement = 1;
    const char types[] = {'L', 'D', 'N'};
    const std::uint8_t lengths[] = {1, 8, 4};
    for (std::size_t k = 0; k < 3; ++k) {
        job.fields[k].bytes[11] = static_cast<std::uint8_t>(types[k]);
        job.fields[k].bytes[16] = lengths[k];
        job.fields[k].setDisplacement(displacement);
        displacement = static_cast<std::uint16_t>(displacement + lengths[k]);
    }
    RecoveryOptions options;
    options.deleteDuplicates = 1;
    DuplicateTable plain, listened;
    RunReport sink("a.dbf", ReportFormat::Text, nullptr, false);
    std::size_t start = t.computedHeaderLength();
    for (std::uint32_t i = 0; i < 5; ++i) {
        Bytes a(table.begin() + static_cast<long>(start + i * 14),
                table.begin() + static_cast<long>(start + (i + 1) * 14));
        Bytes b = a;
        RecordVerdict va = checkRecord(a, i, options, job, plain);
        RecordVerdict vb = checkRecord(b, i, options, job, listened, &sink);
        EXPECT_EQ(va, vb) << i;
        EXPECT_EQ(a, b) << i;
    }
    EXPECT_EQ(sink.findingCount(), 5u);
}

} // namespace
} // namespace salvora
