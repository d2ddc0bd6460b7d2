// The history lists: loading order, front insertion with its capacity, the one pair per
// run, and the export file.
#include <gtest/gtest.h>

#include "app/history.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

TEST(HistoryList, LoadsInOrderThenInsertsAtTheFrontAndDropsTheOldest) {
    HistoryList history;
    history.append("s0", "d0");
    history.append("s1", "d1");
    history.finishLoading();
    history.addFront("new", "newout");
    EXPECT_EQ(history.sources(), (std::vector<std::string>{"new", "s0", "s1"}));
    EXPECT_EQ(history.outputs(), (std::vector<std::string>{"newout", "d0", "d1"}));

    for (int i = 0; i < 21; ++i)
        history.addFront("s" + std::to_string(100 + i), "d" + std::to_string(100 + i));
    EXPECT_EQ(history.size(), HistoryList::capacity);
    EXPECT_EQ(history.source(0), "s120");
    EXPECT_EQ(history.output(19), "d101");
}

TEST(HistoryList, LoadingStopsAtTheCapacity) {
    HistoryList history;
    for (int i = 0; i < 25; ++i)
        history.append("s" + std::to_string(i), "d");
    EXPECT_EQ(history.size(), 20u);
    EXPECT_EQ(history.sources().back(), "s19");
}

TEST(HistoryList, TheSamePairTwiceIsAddedOnce) {
    HistoryList history;
    history.finishLoading();
    EXPECT_TRUE(history.addIfNew("a", "b"));
    EXPECT_FALSE(history.addIfNew("a", "b"));
    EXPECT_TRUE(history.addIfNew("A", "b")) << "compared case-sensitively";
    EXPECT_TRUE(history.addIfNew("a", "b")) << "only the first pair counts";
    EXPECT_EQ(history.size(), 3u);
}

TEST(HistoryList, NamesAreCutToTheirBuffer) {
    HistoryList history;
    history.append(std::string(300, 'x'), "d");
    EXPECT_EQ(history.source(0).size(), HistoryList::maxNameLength);
}

TEST(HistoryExport, WritesOneLinePerPairAndReplacesALongerFile) {
    TempDir dir;
    std::string path = dir.file("h.txt");
    writeFile(path, bytesOf(std::string(200, 'z')));
    HistoryList history;
    history.append("C:\\a,1.dbf", "C:\\b.dbf");
    history.append("x.dbf", "");
    EXPECT_EQ(exportHistory(platform::nativePlatform(), history, path), 0);
    EXPECT_EQ(readFile(path), bytesOf("C:\\a,1.dbf,C:\\b.dbf\r\nx.dbf,\r\n"));
    EXPECT_NE(exportHistory(platform::nativePlatform(), history, dir.file("no/h.txt")), 0);
}

} // namespace
} // namespace salvora::testing
