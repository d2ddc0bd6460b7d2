// The output-name templates on a fixed clock, and the text replacement beneath them.
#include <gtest/gtest.h>

#include <string>

#include "engine/nametemplates.h"

namespace salvora {
namespace {

const platform::LocalTime may7{2024, 5, 7, 9, 30, 5};

std::string date(std::string name, const platform::LocalTime &now = may7) {
    std::string error;
    EXPECT_TRUE(expandDateTemplate(name, now, &error)) << error;
    return name;
}

std::string time(std::string name, const platform::LocalTime &now = may7) {
    std::string error;
    EXPECT_TRUE(expandTimeTemplate(name, now, &error)) << error;
    return name;
}

std::string replaced(std::string text, std::string_view token, std::string_view value) {
    replaceAllNoCase(text, token, value);
    return text;
}

// --- replaceAllNoCase ------------------------------------------------------------------------

TEST(ReplaceAllNoCase, ReplacesEveryOccurrenceInAnyCase) {
    EXPECT_EQ(replaced("a[X]b[x]c", "[x]", "12"), "a12b12c");
    EXPECT_EQ(replaced("DATE date Date", "date", "d"), "d d d");
    EXPECT_EQ(replaced("nothing here", "[x]", "12"), "nothing here");
}

TEST(ReplaceAllNoCase, SearchesOnAfterTheInsertedValue) {
    // A value that holds the token must not be replaced again.
    EXPECT_EQ(replaced("aXa", "a", "aa"), "aaXaa");
    EXPECT_EQ(replaced("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(replaced("abcabc", "abc", ""), "");
}

TEST(ReplaceAllNoCase, OnlyAsciiLettersFoldCase) {
    EXPECT_EQ(replaced("[A]{a}", "[a]", "x"), "x{a}");
    EXPECT_EQ(replaced("\xC4\xE4", "\xE4", "x"), "\xC4x");
}

TEST(ReplaceAllNoCase, EmptyTokenChangesNothing) {
    EXPECT_EQ(replaced("abc", "", "x"), "abc");
}

// --- Date template ---------------------------------------------------------------------------

TEST(DateTemplate, PlainFormIsYearMonthDay) {
    EXPECT_EQ(date("fix_[date].dbf"), "fix_2024-05-07.dbf");
    EXPECT_EQ(date("fix_[DATE].dbf"), "fix_2024-05-07.dbf");
    EXPECT_EQ(date("[Date]/[date].dbf"), "2024-05-07/2024-05-07.dbf");
    EXPECT_EQ(date("[date]", {2024, 12, 31, 0, 0, 0}), "2024-12-31");
}

TEST(DateTemplate, YearHasAsManyDigitsAsItHas) {
    EXPECT_EQ(date("[date]", {987, 1, 2, 0, 0, 0}), "987-01-02");
    EXPECT_EQ(date("[date:yyyy]", {987, 1, 2, 0, 0, 0}), "987");
    EXPECT_EQ(date("[date:yyyymm]", {12345, 1, 2, 0, 0, 0}), "1234501");
}

TEST(DateTemplate, ParameterisedFormReplacesYearMonthAndDay) {
    EXPECT_EQ(date("[date:ddmmyyyy]"), "07052024");
    EXPECT_EQ(date("x_[date:yyyy-mm-dd]_y.dbf"), "x_2024-05-07_y.dbf");
    EXPECT_EQ(date("[DATE:YYYY.MM.DD]"), "2024.05.07");
    EXPECT_EQ(date("[date:d-m-y]"), "d-m-y");
}

TEST(DateTemplate, OnlyFourLettersMakeAYear) {
    EXPECT_EQ(date("[date:yy]"), "yy");
    EXPECT_EQ(date("[date:yyyyy]"), "2024y");
    EXPECT_EQ(date("[date:mmm]"), "05m");
}

TEST(DateTemplate, ParameterisedTokenLeavesThePlainOneAlone) {
    EXPECT_EQ(date("[date:yyyy][date]"), "2024[date]");
    EXPECT_EQ(date("[date]_[date:mm]"), "[date]_05");
}

TEST(DateTemplate, OnlyTheFirstParameterisedTokenAndItsCopiesAreExpanded) {
    EXPECT_EQ(date("[date:yyyy]_[date:yyyy]"), "2024_2024");
    EXPECT_EQ(date("[date:yyyy]_[DATE:YYYY]"), "2024_2024");
    EXPECT_EQ(date("[date:yyyy]_[date:mm]"), "2024_[date:mm]");
}

TEST(DateTemplate, TokenWithoutClosingBracketTakesTheRestOfTheName) {
    EXPECT_EQ(date("x_[date:mm.dbf"), "x_05.dbf");
    EXPECT_EQ(date("x_[date:"), "x_");
}

TEST(DateTemplate, EmptyFormatRemovesTheToken) {
    EXPECT_EQ(date("x_[date:].dbf"), "x_.dbf");
}

TEST(DateTemplate, OtherBracketsStay) {
    EXPECT_EQ(date("[name]_[date]_[time]"), "[name]_2024-05-07_[time]");
    EXPECT_EQ(date("[dat]_[date :yyyy]"), "[dat]_[date :yyyy]");
    EXPECT_EQ(date("plain.dbf"), "plain.dbf");
}

// --- Time template ---------------------------------------------------------------------------

TEST(TimeTemplate, PlainFormIsHourMinuteSecond) {
    EXPECT_EQ(time("[time]"), "093005");
    EXPECT_EQ(time("a_[TIME]_b"), "a_093005_b");
    EXPECT_EQ(time("[time]", {2024, 5, 7, 23, 5, 9}), "230509");
    EXPECT_EQ(time("[time]", {2024, 5, 7, 0, 0, 0}), "000000");
}

TEST(TimeTemplate, ParameterisedFormReplacesHourMinuteAndSecond) {
    EXPECT_EQ(time("[time:hh-mm]"), "09-30");
    EXPECT_EQ(time("[time:HH.MM.SS]"), "09.30.05");
    EXPECT_EQ(time("[time:sshhmm]", {2024, 5, 7, 17, 1, 2}), "021701");
    EXPECT_EQ(time("[time:h]"), "h");
}

TEST(TimeTemplate, SameRulesAsTheDate) {
    EXPECT_EQ(time("[time:hh][time]"), "09[time]");
    EXPECT_EQ(time("[time:hh]_[time:hh]_[time:mm]"), "09_09_[time:mm]");
    EXPECT_EQ(time("x_[time:hhmm.dbf"), "x_0930.dbf");
}

TEST(NameTemplates, DateThenTimeAsTheCommandLineUsesThem) {
    std::string name = "out_[date]_[time].dbf";
    ASSERT_TRUE(expandDateTemplate(name, may7));
    ASSERT_TRUE(expandTimeTemplate(name, may7));
    EXPECT_EQ(name, "out_2024-05-07_093005.dbf");
    // "mm" is the month in a date token and the minute in a time token.
    EXPECT_EQ(time(date("out_[date:mm]_[time:mm].dbf")), "out_05_30.dbf");
    EXPECT_EQ(date("[time:hh]"), "[time:hh]");
    EXPECT_EQ(time("[date:mm]"), "[date:mm]");
}

// --- Limits ----------------------------------------------------------------------------------

TEST(NameTemplates, FormatOfFiftyEightCharactersIsExpanded) {
    std::string format = "yyyy" + std::string(54, '-');
    EXPECT_EQ(date("[date:" + format + "]"), "2024" + std::string(54, '-'));
    EXPECT_EQ(date("[date:" + format), "2024" + std::string(54, '-'));
}

TEST(NameTemplates, LongerFormatFailsAndLeavesTheNameAlone) {
    for (const std::string &name :
         {"a[date:" + std::string(59, 'y') + "]b", "a[date:" + std::string(59, 'y'),
          "a[date:" + std::string(300, 'd') + "]"}) {
        std::string expanded = name;
        std::string error;
        EXPECT_FALSE(expandDateTemplate(expanded, may7, &error));
        EXPECT_EQ(expanded, name);
        EXPECT_NE(error.find("58"), std::string::npos) << error;
        EXPECT_NE(error.find("date"), std::string::npos) << error;
    }
    std::string name = "[time:" + std::string(59, 'h') + "]";
    std::string error;
    EXPECT_FALSE(expandTimeTemplate(name, may7, &error));
    EXPECT_NE(error.find("time"), std::string::npos) << error;
    EXPECT_FALSE(expandTimeTemplate(name, may7)); // no error text wanted
}

TEST(NameTemplates, ExpansionUpToTheNameLimitIsExpanded) {
    // "[date]" grows by four characters: 251 + 4 = 255.
    std::string name = std::string(245, 'a') + "[date]";
    ASSERT_EQ(name.size(), 251u);
    EXPECT_EQ(date(name).size(), 255u);
}

TEST(NameTemplates, ExpansionBeyondTheNameLimitFailsAndLeavesTheNameAlone) {
    std::string name = std::string(246, 'a') + "[date]";
    std::string error;
    EXPECT_FALSE(expandDateTemplate(name, may7, &error));
    EXPECT_EQ(name, std::string(246, 'a') + "[date]");
    EXPECT_NE(error.find("255"), std::string::npos) << error;

    std::string copies = std::string(240, 'a') + "[date:yyyy][date:yyyy]" + std::string(30, 'b') +
                         "[date:yyyy][date:yyyy]";
    ASSERT_GT(copies.size(), 255u);
    // Shrinking a name that was too long is still too long.
    std::string shrunk = copies;
    EXPECT_FALSE(expandDateTemplate(shrunk, may7));
    EXPECT_EQ(shrunk, copies);

    // "[time]" keeps the length, so a name that was too long stays too long.
    std::string times = std::string(249, 'a') + "[time]";
    EXPECT_TRUE(expandTimeTemplate(times, may7));
    times = std::string(250, 'a') + "[time]";
    EXPECT_FALSE(expandTimeTemplate(times, may7, &error));
    EXPECT_NE(error.find("255"), std::string::npos) << error;
}

TEST(NameTemplates, NameWithoutTokensIsLeftAsItIsWhateverItsLength) {
    std::string name(400, 'a');
    EXPECT_TRUE(expandDateTemplate(name, may7));
    EXPECT_TRUE(expandTimeTemplate(name, may7));
    EXPECT_EQ(name, std::string(400, 'a'));
}

} // namespace
} // namespace salvora
