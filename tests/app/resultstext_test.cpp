// The folder run's results text: within its buffer, newest lines kept, a note when older
// ones went.
#include <gtest/gtest.h>

#include <string>

#include "app/resultstext.h"

namespace salvora {
namespace {

const std::string notice = droppedResultsNotice;

TEST(ResultsText, KeepsEveryLineWhileThereIsRoom) {
    ResultsText results;
    results.appendLine("a.dbf: OK\r\n");
    results.appendLine("b.dbf: Unrecoverable\r\n");
    EXPECT_EQ(results.text(), "a.dbf: OK\r\nb.dbf: Unrecoverable\r\n");
}

TEST(ResultsText, FillsTheBufferUpToItsTerminator) {
    ResultsText results(12);
    results.appendLine("12345678\r\n"); // 10 bytes and the terminator: fits
    results.appendLine("x\r\n");        // 13 would not
    EXPECT_EQ(results.text(), notice + "x\r\n");
    ResultsText exact(13);
    exact.appendLine("12345678\r\n");
    exact.appendLine("\r\n");
    EXPECT_EQ(exact.text(), "12345678\r\n\r\n") << "12 bytes and the terminator fit in 13";
}

TEST(ResultsText, OldestLinesGiveWayAndTheNoticeStaysFirst) {
    const std::size_t limit = notice.size() + 30;
    ResultsText results(limit);
    for (int i = 0; i < 100; ++i) {
        results.appendLine("line " + std::to_string(i) + "\r\n");
        ASSERT_LT(results.text().size(), limit) << i;
    }
    const std::string &text = results.text();
    EXPECT_EQ(text.rfind(notice, 0), 0u);
    EXPECT_EQ(text.find(notice, 1), std::string::npos) << "one notice only";
    EXPECT_EQ(text.substr(notice.size()), "line 97\r\nline 98\r\nline 99\r\n");
}

TEST(ResultsText, DefaultLimitIsTheWindowBuffer) {
    ResultsText results;
    std::string line(99, 'x');
    line += "\r\n"; // 101 bytes
    for (int i = 0; i < 700; ++i)
        results.appendLine(line);
    EXPECT_LT(results.text().size(), resultsTextLimit);
    EXPECT_GT(results.text().size(), resultsTextLimit - line.size() - 1);
    EXPECT_EQ(results.text().rfind(notice, 0), 0u);
}

TEST(ResultsText, ALineTooLongForTheBufferIsStillShownWhole) {
    ResultsText results(8);
    results.appendLine("a\r\n");
    results.appendLine("too long\r\n");
    EXPECT_EQ(results.text(), notice + "too long\r\n");
}

} // namespace
} // namespace salvora
