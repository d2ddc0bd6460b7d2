// The fuzz targets' checks, run without a fuzzer: over the seeds made from the damage corpus,
// and over every input a fuzz run once failed on (fuzz/regressions), so that a plain build
// catches a regression.
#include <gtest/gtest.h>

#include <filesystem>

#include "fuzz/fuzzrun.h"
#include "tests/support/fuzzseeds.h"

namespace salvora {
namespace {

std::filesystem::path regressionFolder() {
    return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" /
           "regressions";
}

class FuzzReplaySeeds : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzReplaySeeds, PassTheFuzzChecks) {
    for (const testing::CorpusCase &c : testing::damageCorpus(GetParam())) {
        SCOPED_TRACE(c.name);
        fuzz::Bytes input = testing::fuzzInputOf(c);
        EXPECT_EQ(fuzz::runRecoveryInput(input.data(), input.size()), "");
        EXPECT_EQ(fuzz::runAnalysisInput(input.data(), input.size()), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FuzzReplaySeeds, ::testing::ValuesIn(testing::corpusKindTags()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             return info.param;
                         });

TEST(FuzzReplay, EarlierFindingsStayFixed) {
    ASSERT_TRUE(std::filesystem::is_directory(regressionFolder())) << regressionFolder();
    for (auto &entry : std::filesystem::directory_iterator(regressionFolder())) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        fuzz::Bytes input = testing::readFile(entry.path().string());
        EXPECT_EQ(fuzz::runRecoveryInput(input.data(), input.size()), "");
        EXPECT_EQ(fuzz::runAnalysisInput(input.data(), input.size()), "");
    }
}

TEST(FuzzReplay, InputsAreCutIntoControlMemoAndTable) {
    const std::uint8_t bytes[] = {fuzz::controlWithMemo | fuzz::controlPack, 2, 0, 'm', 'm', 't'};
    fuzz::FuzzCase input = fuzz::decodeFuzzInput(bytes, sizeof bytes);
    EXPECT_EQ(input.control & fuzz::controlPack, fuzz::controlPack);
    ASSERT_TRUE(input.memo);
    EXPECT_EQ(*input.memo, (fuzz::Bytes{'m', 'm'}));
    EXPECT_EQ(input.table, (fuzz::Bytes{'t'}));
    EXPECT_EQ(fuzz::encodeFuzzInput(input), fuzz::Bytes(bytes, bytes + sizeof bytes));

    // A memo length beyond the input takes what there is; the table is then empty.
    const std::uint8_t cut[] = {fuzz::controlWithMemo, 9, 0, 'm'};
    input = fuzz::decodeFuzzInput(cut, sizeof cut);
    EXPECT_EQ(*input.memo, (fuzz::Bytes{'m'}));
    EXPECT_TRUE(input.table.empty());
}

} // namespace
} // namespace salvora
