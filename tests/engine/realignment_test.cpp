// Bytes inserted into or lost from the record area: the records behind the damage come back,
// the ones it cut are dropped as misaligned and reported, and nothing off the grid is kept.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/recovery.h"
#include "engine/runreport.h"
#include "tests/support/enginerun.h"
#include "tests/support/memobuilder.h"
#include "tests/support/sharedhelpers.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::TableBuilder;
using testing::TempDir;

constexpr int recordCount = 400;
constexpr std::size_t recordLength = 1 + 6 + 12 + 8 + 1 + 5 + 10;

const char *const names[] = {"Ada Lind", "Bo Chen", "Cleo Marsh", "Dag Ito", "Eve van Os"};

// The values of record i after its flag; record i's memo (when the table has memos) is block
// `blocks[i]`.
std::string values(int i, const std::vector<std::uint32_t> *blocks) {
    char text[64];
    std::snprintf(text, sizeof text, "%6d%-12s2024%02d%02d%c%5d", i + 1, names[i % 5], 1 + i % 12,
                  1 + i % 28, "TF "[i % 3], (i * 37) % 1000);
    std::string v = text;
    v += blocks ? testing::memoReference((*blocks)[static_cast<std::size_t>(i)])
                : std::string(10, ' ');
    return v;
}

std::string memoText(int i) {
    return "memo of record " + std::to_string(i + 1) +
           std::string(static_cast<std::size_t>(i % 7) * 9, 'x');
}

struct Sound {
    Bytes table;
    Bytes memo;
    std::size_t headerLength = 0;
};

Sound soundTable(bool withMemo) {
    Sound s;
    std::vector<std::uint32_t> blocks;
    if (withMemo) {
        std::vector<std::string> texts;
        for (int i = 0; i < recordCount; ++i)
            texts.push_back(memoText(i));
        testing::BuiltMemo memo = testing::dBase3MemoFile(texts);
        s.memo = memo.file;
        blocks = memo.blocks;
    }
    TableBuilder t(withMemo ? 0x83 : 0x03);
    t.field("ID", 'N', 6).field("NAME", 'C', 12).field("DUE", 'D', 8).field("OK", 'L', 1);
    t.field("QTY", 'N', 5).field(withMemo ? "NOTES" : "CODE", withMemo ? 'M' : 'C', 10);
    for (int i = 0; i < recordCount; ++i)
        t.record(values(i, withMemo ? &blocks : nullptr), i % 11 == 0 ? '*' : ' ');
    s.table = t.build();
    s.headerLength = t.computedHeaderLength();
    return s;
}

struct Shift {
    std::size_t at; // offset into the record area
    int bytes;      // inserted when positive, lost when negative
};

// Applies the shifts (given in ascending order) and returns the records they cut.
std::vector<int> applyShifts(Sound &s, const std::vector<Shift> &shifts) {
    std::vector<int> cut;
    std::ptrdiff_t moved = 0;
    for (const Shift &shift : shifts) {
        std::size_t at = s.headerLength + shift.at;
        std::size_t first = shift.at / recordLength;
        std::size_t last = (shift.at + (shift.bytes < 0 ? -shift.bytes - 1 : 0)) / recordLength;
        for (std::size_t r = first; r <= last; ++r)
            cut.push_back(static_cast<int>(r));
        auto where = s.table.begin() + static_cast<std::ptrdiff_t>(at) + moved;
        if (shift.bytes > 0) {
            Bytes junk(static_cast<std::size_t>(shift.bytes));
            for (std::size_t k = 0; k < junk.size(); ++k)
                junk[k] = static_cast<std::uint8_t>(0x9E + 13 * k);
            s.table.insert(where, junk.begin(), junk.end());
        } else {
            s.table.erase(where, where - shift.bytes);
        }
        moved += shift.bytes;
    }
    return cut;
}

class RealignmentTest : public ::testing::Test {
  protected:
    // Repairs the table and returns the ID of every record written, in order; counts in
    // `garbage` the records that equal no original one.
    std::vector<int> repair(const Sound &s) {
        testing::writeFile(dir.file("a.dbf"), s.table);
        if (!s.memo.empty())
            testing::writeFile(dir.file("a.dbt"), s.memo);
        report = std::make_unique<RunReport>("a.dbf", ReportFormat::Text, &lines, false);
        context.report = report.get();
        EXPECT_EQ(context.run(nullptr, dir.file("a.dbf"), dir.file("b.dbf"), false), recoveryFixed);
        context.report = nullptr;
        Bytes out = testing::readFile(dir.file("b.dbf"));
        Bytes memo = s.memo.empty() ? Bytes{} : testing::readFile(dir.file("b.dbt"));
        std::vector<int> ids;
        std::uint32_t count = readLe32(&out[4]);
        for (std::uint32_t r = 0; r < count; ++r) {
            const std::uint8_t *record = &out[s.headerLength + r * recordLength];
            std::string got(record + 1, record + recordLength - 10);
            int id = std::atoi(got.substr(0, 6).c_str());
            int i = id - 1;
            if (i < 0 || i >= recordCount || got != values(i, nullptr).substr(0, got.size())) {
                ++garbage;
                continue;
            }
            if (!s.memo.empty()) {
                std::string ref(record + recordLength - 10, record + recordLength);
                std::size_t block = std::strtoul(ref.c_str(), nullptr, 10);
                std::string text(memo.begin() + static_cast<std::ptrdiff_t>(block * 512),
                                 memo.begin() + static_cast<std::ptrdiff_t>(block * 512) +
                                     static_cast<std::ptrdiff_t>(memoText(i).size()));
                EXPECT_EQ(text, memoText(i)) << "memo of record " << id;
            }
            ids.push_back(id);
        }
        return ids;
    }

    int garbage = 0;
    TempDir dir;
    testing::EngineRun context{platform::nativePlatform()};
    struct Captured : TextSink {
        void write(std::string_view text) override { all += text; }
        std::string all;
    } lines;
    std::unique_ptr<RunReport> report;
};

// Every record the shifts did not cut comes back, in order, and the grid's break is reported.
// The walk learns of a break only from a record that fails: the few records between the
// break and that one that pass every check are not told from data (at most two a shift here).
TEST_F(RealignmentTest, RecordsBehindInsertedOrLostBytesComeBack) {
    const std::size_t area = recordCount * recordLength;
    struct Case {
        const char *name;
        std::vector<Shift> shifts;
        bool memo;
    };
    std::vector<Case> cases;
    for (int bytes : {1, 7, 100, -1, -7, -100}) {
        for (std::size_t at : {std::size_t{5}, area / 2 + 3, area - 3 * recordLength + 9})
            cases.push_back({"one shift", {{at, bytes}}, false});
    }
    cases.push_back({"two shifts", {{area / 4 + 11, 7}, {3 * area / 4 + 2, -30}}, false});
    cases.push_back({"a shift in a memo table", {{area / 3 + 17, 13}}, true});
    cases.push_back({"a shift longer than a record", {{area / 2, 3 * recordLength + 5}}, false});

    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(c.shifts[0].at) + " by " +
                     std::to_string(c.shifts[0].bytes));
        Sound s = soundTable(c.memo);
        std::vector<int> cut = applyShifts(s, c.shifts);
        lines.all.clear();
        garbage = 0;
        std::vector<int> ids = repair(s);
        EXPECT_LE(garbage, 2 * static_cast<int>(c.shifts.size()));
        std::vector<int> missing;
        std::size_t next = 0;
        for (int i = 0; i < recordCount; ++i) {
            if (next < ids.size() && ids[next] == i + 1)
                ++next;
            else
                missing.push_back(i);
        }
        EXPECT_EQ(next, ids.size()) << "records out of order or repeated";
        for (int i : missing) {
            bool near = false;
            for (int r : cut)
                near = near || (i >= r - 1 && i <= r + 3);
            EXPECT_TRUE(near) << "record " << i + 1 << " lost far from the damage";
        }
        EXPECT_LE(missing.size(), cut.size() + 2 * c.shifts.size());
        if (cut.back() < recordCount - 1) {
            EXPECT_NE(lines.all.find("record grid broken at bytes "), std::string::npos);
            EXPECT_NE(report->summaryText().find("Dropped as misaligned: "), std::string::npos);
        }
    }
}

TEST_F(RealignmentTest, ACheckCallsABrokenGridARepairNeed) {
    Sound s = soundTable(false);
    applyShifts(s, {{recordCount * recordLength / 2 + 4, 3}});
    testing::writeFile(dir.file("a.dbf"), s.table);
    RunReport checkReport("a.dbf", ReportFormat::Text, &lines, true);
    EXPECT_EQ(context.check(dir.file("a.dbf"), checkReport), CheckVerdict::NeedsRepair);
    EXPECT_NE(checkReport.summaryText().find("Dropped as misaligned: 1"), std::string::npos)
        << checkReport.summaryText();
    EXPECT_NE(checkReport.summaryText().find("Verdict: needs repair"), std::string::npos);
}

} // namespace
} // namespace salvora
