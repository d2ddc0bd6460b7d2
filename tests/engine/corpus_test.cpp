// Every table kind with every kind of damage: the repair must be exactly the expected one.
// One test per table kind walks that kind's cases.
#include <gtest/gtest.h>

#include "engine/recovery.h"
#include "tests/support/corpusrun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/scratchfolder.h"

namespace salvora {
namespace {

using testing::CorpusCase;
using testing::CorpusOutcome;

class DamageCorpus : public ::testing::TestWithParam<std::string> {
  protected:
    DamageCorpus() { os.setLocalTime(testing::corpusClock()); }

    testing::ScratchFolder dir;
    testing::FaultPlatform os;
};

TEST_P(DamageCorpus, RepairsAreTheExpectedOnes) {
    std::vector<CorpusCase> cases = testing::damageCorpus(GetParam());
    ASSERT_GE(cases.size(), 30u);
    for (const CorpusCase &c : cases) {
        SCOPED_TRACE(c.name);
        dir.empty();
        CorpusOutcome out = testing::runCorpusCase(c, os, dir.path());

        EXPECT_EQ(out.result, c.result) << out.message;
        if (c.expectedTable) {
            ASSERT_TRUE(out.table) << "no output table";
            EXPECT_EQ(testing::firstDifference(*out.table, *c.expectedTable), "");
            EXPECT_NE(out.message.find("Recoverable records: " + std::to_string(c.kept) + "\r\n"),
                      std::string::npos)
                << out.message;
        } else if (!c.inPlace) {
            EXPECT_FALSE(out.table) << "an output table was written";
        }
        if (c.expectedMemo) {
            ASSERT_TRUE(out.memo) << "no output memo";
            EXPECT_EQ(testing::firstDifference(*out.memo, *c.expectedMemo), "");
        } else if (!c.inPlace) {
            EXPECT_FALSE(out.memo) << "an output memo was written";
        }
        // Nothing else is left behind: no work file, no temporary memo.
        EXPECT_EQ(out.names, testing::expectedNames(c));
    }
}

TEST(DamageCorpusSize, EveryKindAndDamageIsThere) {
    std::vector<CorpusCase> cases = testing::damageCorpus();
    EXPECT_GE(cases.size(), 450u);
    EXPECT_EQ(testing::corpusKindTags().size(), 12u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamageCorpus, ::testing::ValuesIn(testing::corpusKindTags()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             return info.param;
                         });

} // namespace
} // namespace salvora
