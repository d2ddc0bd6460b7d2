// The progress line: silent for small tables, throttled, padded over a longer line, and
// cleared at the end.
#include <gtest/gtest.h>

#include "app/progressline.h"
#include "app/singlefile.h"

namespace salvora {
namespace {

struct Screen {
    std::vector<std::string> writes;
    double now = 0;
    ProgressLine line{[this](std::string_view text) { writes.emplace_back(text); },
                      [this] { return now; }};
};

TEST(ProgressLine, SilentForTablesUpToTheThreshold) {
    Screen screen;
    screen.line.recordsDone(0, ProgressLine::minimumRecords);
    screen.line.recordsDone(ProgressLine::minimumRecords, ProgressLine::minimumRecords);
    EXPECT_TRUE(screen.writes.empty());
}

TEST(ProgressLine, ShowsPercentageAndRateThenClears) {
    Screen screen;
    screen.line.recordsDone(0, 200000);
    screen.now = 0.1;
    screen.line.recordsDone(4096, 200000); // too soon after the first
    screen.now = 2;
    screen.line.recordsDone(100000, 200000);
    screen.line.recordsDone(200000, 200000);
    ASSERT_EQ(screen.writes.size(), 3u);
    EXPECT_EQ(screen.writes[0], "\r0% of 200000 records, 0 records/s");
    EXPECT_EQ(screen.writes[1], "\r50% of 200000 records, 50000 records/s");
    EXPECT_EQ(screen.writes[2], "\r" + std::string(screen.writes[1].size() - 1, ' ') + "\r");
}

TEST(ProgressLine, AShorterLineBlanksTheRestOfTheLongerOne) {
    Screen screen;
    screen.line.recordsDone(0, 200000);
    screen.now = 1;
    screen.line.recordsDone(150000, 200000);
    screen.now = 100;
    screen.line.recordsDone(160000, 200000);
    ASSERT_EQ(screen.writes.size(), 3u);
    EXPECT_EQ(screen.writes[2].size(), screen.writes[1].size());
}

TEST(LogName, ReplacesTheFileNamesLastDbfAndWhatFollowsOrAddsLog) {
    EXPECT_EQ(logNameFor("C:\\out\\x.dbf"), "C:\\out\\x.log");
    EXPECT_EQ(logNameFor("x.DBF"), "x.log");
    EXPECT_EQ(logNameFor("b_[date].dbf"), "b_[date].log");
    EXPECT_EQ(logNameFor("a.dbf.bak.dbf"), "a.dbf.bak.log");
    // A folder's ".dbf" is no extension: the log stays beside the table.
    EXPECT_EQ(logNameFor("old.dbf.d/t.dbf"), "old.dbf.d/t.log");
    EXPECT_EQ(logNameFor("old.dbf.d/t"), "old.dbf.d/t.log");
    EXPECT_EQ(logNameFor("fixed"), "fixed.log");
}

} // namespace
} // namespace salvora
