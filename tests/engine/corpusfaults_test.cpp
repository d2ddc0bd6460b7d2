// In-place repairs from the damage corpus under injected faults: a full disk in every write the
// run makes, a crash at every step, and each file operation failing on each file. Afterwards
// the table and its memo are either both as before or both the finished repair, nothing is left
// behind unless the crash or a failed removal left it, and the run never reports success when
// the pair is not the finished repair.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/recovery.h"
#include "tests/support/corpusrun.h"
#include "tests/support/faultplatform.h"
#include "tests/support/scratchfolder.h"
#include "tests/support/writelog.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::CorpusCase;
using testing::CorpusOutcome;
using testing::FaultPlatform;
using testing::Operation;

const CorpusCase &corpusCase(const std::string &name) {
    static const std::vector<CorpusCase> corpus = testing::damageCorpus();
    auto found = std::find_if(corpus.begin(), corpus.end(),
                              [&](const CorpusCase &c) { return c.name == name; });
    if (found == corpus.end())
        throw std::logic_error("no corpus case " + name);
    return *found;
}

struct Pair {
    Bytes table;
    std::optional<Bytes> memo;
    bool operator==(const Pair &) const = default;
};

class CorpusFaults : public ::testing::TestWithParam<std::string> {
  protected:
    CorpusFaults() : c(corpusCase(GetParam())) { os.setLocalTime(testing::corpusClock()); }

    void SetUp() override {
        ASSERT_TRUE(c.inPlace);
        ASSERT_TRUE(c.expectedTable);
        original = {c.table, c.memo};
        repaired = {*c.expectedTable, c.expectedMemo};
        // The finished repair is what the corpus expects of the case.
        CorpusOutcome out = run();
        ASSERT_EQ(out.result, recoveryFixed) << out.message;
        ASSERT_TRUE(pairNow() == repaired);
    }

    CorpusOutcome run() {
        dir.empty();
        return testing::runCorpusCase(c, os, dir.path());
    }
    Pair pairNow() const {
        Pair pair{testing::readFile(dir.file("t.dbf")), std::nullopt};
        if (!c.memoName.empty() && testing::fileExists(dir.file(c.memoName)))
            pair.memo = testing::readFile(dir.file(c.memoName));
        return pair;
    }
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names;
        for (auto &entry : std::filesystem::directory_iterator(dir.path())) {
            std::string name = entry.path().filename().string();
            if (name != "t.dbf" && name != c.memoName)
                names.push_back(name);
        }
        return names;
    }
    // The pair is whole: as before, or the finished repair, and success says which.
    void expectWholePair(const CorpusOutcome &out, bool leftoversAllowed) {
        Pair now = pairNow();
        if (out.result == recoveryFixed) {
            EXPECT_TRUE(now == repaired) << "success without the finished repair";
        } else {
            EXPECT_TRUE(now == original) << "a failed run changed the table or its memo";
        }
        if (!leftoversAllowed) {
            EXPECT_EQ(leftovers(), std::vector<std::string>{});
        }
    }

    const CorpusCase &c;
    testing::ScratchFolder dir;
    // Beneath the faults: what reaches the disk.
    testing::WriteLog log;
    FaultPlatform os{log};
    Pair original;
    Pair repaired;
};

// A clean run notes every write and copy; then the disk fills at the first and at the last byte
// of each in turn.
TEST_P(CorpusFaults, DiskFullInEveryWriteLeavesTheOldPairOrTheNewOne) {
    log.clear();
    ASSERT_EQ(run().result, recoveryFixed);
    const std::vector<std::uint64_t> sizes = log.sizes();
    ASSERT_GT(sizes.size(), 2u);
    std::uint64_t start = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        for (std::uint64_t room : {start, start + sizes[i] - 1}) {
            SCOPED_TRACE("write " + std::to_string(i) + " of " + std::to_string(sizes.size()) +
                         ", room for " + std::to_string(room) + " bytes");
            os.failWritesAfter(room);
            CorpusOutcome out = run();
            os.clearFaults();
            EXPECT_NE(out.result, recoveryFixed);
            expectWholePair(out, false);
            EXPECT_NE(out.message.find(os.errorText(platform::errorDiskFull())), std::string::npos)
                << out.message;
            if (::testing::Test::HasFailure())
                return;
        }
        start += sizes[i];
    }
    // Room for every byte is room enough.
    os.failWritesAfter(start);
    EXPECT_EQ(run().result, recoveryFixed);
    os.clearFaults();
    EXPECT_TRUE(pairNow() == repaired);
}

TEST_P(CorpusFaults, CrashAtEveryStepNeverLosesTheTableOrTheMemo) {
    std::uint64_t before = os.mutatingOperations();
    run();
    std::uint64_t steps = os.mutatingOperations() - before;
    ASSERT_GT(steps, 3u);
    for (std::uint64_t k = 0; k <= steps; ++k) {
        SCOPED_TRACE("crash after " + std::to_string(k) + " steps");
        os.crashAfter(k);
        run();
        os.clearFaults();
        Pair now = pairNow();
        ASSERT_TRUE(now.table == original.table || now.table == repaired.table);
        ASSERT_EQ(now.memo.has_value(), original.memo.has_value()) << "the memo file is gone";
        if (now.table == repaired.table) {
            EXPECT_TRUE(now.memo == repaired.memo);
        } else if (now.memo != original.memo) {
            // Between the two renames: the new memo is in place and the old one waits beside it.
            EXPECT_TRUE(now.memo == repaired.memo);
            bool kept = false;
            for (const std::string &name : leftovers())
                kept |= testing::readFile(dir.file(name)) == *original.memo;
            EXPECT_TRUE(kept) << "the old memo is lost";
        }
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST_P(CorpusFaults, EachFileOperationFailingOnEachFileLeavesAWholePair) {
    const std::vector<std::pair<std::string, testing::PathFilter>> files = {
        {"any file", testing::anyPath()},
        {"the table", testing::pathEndsWith("/t.dbf")},
        {"the memo", testing::pathEndsWith("/" + (c.memoName.empty() ? "none" : c.memoName))},
        {"the temporary memo",
         [&](const std::string &p) {
             return !c.memoName.empty() &&
                    p.find("/." + c.memoName + ".salvora-") != std::string::npos;
         }},
        {"work files",
         [](const std::string &p) {
             return p.find(".salvora-") != std::string::npos || p.find("/uuu") != std::string::npos;
         }},
    };
    const std::vector<std::pair<std::string, Operation>> operations = {
        {"open", Operation::Open},           {"rename", Operation::Rename},
        {"copy", Operation::Copy},           {"remove", Operation::Remove},
        {"create", Operation::CreateUnique}, {"attributes", Operation::SetAttributes},
    };
    for (const auto &[fileName, filter] : files) {
        for (const auto &[operationName, operation] : operations) {
            for (int times : {1, -1}) {
                SCOPED_TRACE(operationName + " fails on " + fileName +
                             (times < 0 ? " every time" : " once"));
                os.failOperation(operation, filter, testing::ioError(), times);
                CorpusOutcome out = run();
                os.clearFaults();
                // A file that could not be removed may stay; nothing else may.
                expectWholePair(out, operation == Operation::Remove);
                if (::testing::Test::HasFailure())
                    return;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    InPlace, CorpusFaults,
    ::testing::Values("t03_in_place_pack", "t83_in_place_pack", "t8b_in_place_pack",
                      "tf5_in_place_pack", "t30_in_place_pack", "t31_in_place_pack",
                      "t32_in_place_pack", "t8c_in_place_pack", "te5_in_place_pack",
                      "t83_memo_in_place_missing_reference"),
    [](const ::testing::TestParamInfo<std::string> &info) { return info.param; });

} // namespace
} // namespace salvora
