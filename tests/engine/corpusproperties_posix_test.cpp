// Properties that hold for every repair of the damage corpus, whatever the damage: the source
// is left alone, a second repair changes nothing, and the output passes its own checks.
#include <gtest/gtest.h>

#include "engine/recovery.h"
#include "engine/tableformat.h"
#include "tests/support/corpusrun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/scratchfolder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::CorpusCase;
using testing::CorpusOutcome;

class CorpusProperties : public ::testing::TestWithParam<std::string> {
  protected:
    CorpusProperties() { os.setLocalTime(testing::corpusClock()); }

    // The source is byte for byte as before a repair to a new name.
    void sourceIsAsItWas(const CorpusCase &c, const CorpusOutcome &out);
    // Every record of the output passes the record checks unchanged.
    void recordsPassTheChecks(const CorpusCase &c);
    // Every memo reference of the output starts a memo of the output's memo file.
    void memoReferencesStartMemos(const CorpusCase &c);
    void secondRepairChangesNothing(const CorpusCase &c, const CorpusOutcome &first);
    static std::string outputName(const CorpusCase &c) { return c.inPlace ? "t.dbf" : "out.dbf"; }

    testing::ScratchFolder dir;
    testing::FaultPlatform os;
};

void CorpusProperties::sourceIsAsItWas(const CorpusCase &c, const CorpusOutcome &out) {
    if (c.inPlace)
        return;
    EXPECT_EQ(testing::firstDifference(out.source, c.table), "") << "source changed";
    EXPECT_EQ(out.sourceMemo.has_value(), c.memo.has_value()) << "source memo";
    if (out.sourceMemo && c.memo) {
        EXPECT_EQ(testing::firstDifference(*out.sourceMemo, *c.memo), "") << "source memo changed";
    }
}

void CorpusProperties::recordsPassTheChecks(const CorpusCase &c) {
    if (!c.readsDifferentlyAgain.empty())
        return;
    EXPECT_EQ(testing::recordsFailingChecks(os, dir.file(outputName(c))), "");
}

void CorpusProperties::memoReferencesStartMemos(const CorpusCase &c) {
    // A level 7 table keeps its memo file and its references as they are; without a memo file
    // there is nothing they could name.
    if ((c.kind == 0x8C && !c.memo) || !c.readsDifferentlyAgain.empty())
        return;
    EXPECT_EQ(testing::danglingMemoReferences(os, dir.file(outputName(c))), "");
}

// A fixed table repaired again (in place when the first repair was) comes out unchanged; a
// table without records, written without an end marker, keeps its whole header.
void CorpusProperties::secondRepairChangesNothing(const CorpusCase &c, const CorpusOutcome &first) {
    if (!c.readsDifferentlyAgain.empty())
        return;
    std::string again = c.inPlace ? "t.dbf" : "again.dbf";
    CorpusOutcome second = testing::repairAgain(c, os, dir.path(), outputName(c), again);
    ASSERT_EQ(second.result, recoveryFixed) << second.message;
    ASSERT_TRUE(second.table);
    const Bytes &expected = *first.table;
    EXPECT_EQ(testing::firstDifference(*second.table, expected), "") << "second repair";
    EXPECT_EQ(second.memo.has_value(), first.memo.has_value()) << "second repair's memo";
    if (second.memo && first.memo) {
        EXPECT_EQ(testing::firstDifference(*second.memo, *first.memo), "")
            << "second repair's memo";
    }
}

// One repair per case serves every property; the second repair comes last, as it may replace
// the output it reads.
TEST_P(CorpusProperties, HoldForEveryRepair) {
    std::size_t repaired = 0;
    for (const CorpusCase &c : testing::damageCorpus(GetParam())) {
        if (c.result != recoveryFixed)
            continue;
        SCOPED_TRACE(c.name);
        dir.empty();
        CorpusOutcome out = testing::runCorpusCase(c, os, dir.path());
        ASSERT_EQ(out.result, recoveryFixed) << out.message;
        ASSERT_TRUE(out.table);
        sourceIsAsItWas(c, out);
        recordsPassTheChecks(c);
        memoReferencesStartMemos(c);
        secondRepairChangesNothing(c, out);
        ++repaired;
    }
    EXPECT_GE(repaired, 30u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, CorpusProperties, ::testing::ValuesIn(testing::corpusKindTags()),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             return info.param;
                         });

} // namespace
} // namespace salvora
