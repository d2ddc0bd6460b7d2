#include "app/windowtask.h"

#include <gtest/gtest.h>

namespace salvora {
namespace {

TEST(WindowTask, TablesAreSingleFilesWhateverTheCase) {
    EXPECT_FALSE(isFolderSource("C:\\data\\x.dbf"));
    EXPECT_FALSE(isFolderSource("C:\\data\\X.DBF"));
    EXPECT_FALSE(isFolderSource("C:\\forms\\main.scx"));
    EXPECT_FALSE(isFolderSource("C:\\old.dbc\\x"));
}

TEST(WindowTask, FoldersAndWildcardsGoToTheFolderRun) {
    EXPECT_TRUE(isFolderSource("C:\\data"));
    EXPECT_TRUE(isFolderSource("C:\\data\\*.dbf"));
    EXPECT_TRUE(isFolderSource("C:\\data\\x?.dbf"));
    EXPECT_TRUE(isFolderSource("C:\\data\\notes.txt"));
    EXPECT_TRUE(isFolderSource(""));
}

TEST(WindowTask, OutputSwitchSplitsTheNames) {
    auto names = windowStartNames("x.dbf /output:y.dbf");
    ASSERT_TRUE(names);
    EXPECT_EQ(names->source, "x.dbf");
    EXPECT_EQ(names->output, "y.dbf");
}

TEST(WindowTask, WithoutOutputBothBoxesShowTheSource) {
    auto names = windowStartNames("x.dbf");
    ASSERT_TRUE(names);
    EXPECT_EQ(names->source, "x.dbf");
    EXPECT_EQ(names->output, "x.dbf");
}

TEST(WindowTask, OutputSwitchAtTheStartLeavesNoSource) {
    auto names = windowStartNames("/OUTPUT:y.dbf");
    ASSERT_TRUE(names);
    EXPECT_EQ(names->source, "");
    EXPECT_EQ(names->output, "y.dbf");
}

TEST(WindowTask, TextWithoutATableStartsNothing) {
    EXPECT_FALSE(windowStartNames(""));
    EXPECT_FALSE(windowStartNames("C:\\data"));
    EXPECT_TRUE(windowStartNames("C:\\DATA\\X.DBF"));
}

} // namespace
} // namespace salvora
