#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "engine/duplicatecandidates.h"
#include "engine/repeatedhashes.h"

namespace salvora {
namespace {

TEST(RepeatedHashes, TellsRepeatedHashesFromUniqueOnes) {
    const std::vector<std::uint32_t> hashes = {7, 0, 9, 7, 0xFFFFFFFF, 12, 7, 0xFFFFFFFF, 5};
    std::optional<RepeatedHashes> repeated = RepeatedHashes::of(hashes);
    ASSERT_TRUE(repeated);
    EXPECT_TRUE(repeated->contains(7));
    EXPECT_TRUE(repeated->contains(0xFFFFFFFF));
    for (std::uint32_t once : {0u, 9u, 12u, 5u, 6u, 8u})
        EXPECT_FALSE(repeated->contains(once)) << once;
    EXPECT_EQ(repeated->count(), 2u);
    EXPECT_EQ(repeated->keys(), 5u);

    // Zero is a hash like any other, though the set marks free places with it.
    std::optional<RepeatedHashes> zero = RepeatedHashes::of(std::vector<std::uint32_t>{0, 3, 0});
    ASSERT_TRUE(zero);
    EXPECT_TRUE(zero->contains(0));
    EXPECT_FALSE(zero->contains(3));

    std::optional<RepeatedHashes> none = RepeatedHashes::of({});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->count(), 0u);
    EXPECT_FALSE(none->contains(0));
    EXPECT_FALSE(none->contains(1));
}

TEST(RepeatedHashes, ManyHashesAgreeWithCounting) {
    // Drawn from a small range, so that many repeat, some three or more times; every byte of
    // the hashes matters to the sort.
    std::mt19937 random(3);
    std::vector<std::uint32_t> hashes(200000);
    for (std::uint32_t &h : hashes)
        h = static_cast<std::uint32_t>(random() % 300000) * 0x9E3779B1u;
    std::map<std::uint32_t, int> counts;
    for (std::uint32_t h : hashes)
        ++counts[h];
    std::optional<RepeatedHashes> repeated = RepeatedHashes::of(hashes);
    ASSERT_TRUE(repeated);
    std::size_t repeatedCount = 0, keys = 0;
    for (const auto &[hash, count] : counts) {
        ASSERT_EQ(repeated->contains(hash), count > 1) << hash;
        repeatedCount += count > 1;
        keys += count > 1 ? count : 0;
    }
    EXPECT_EQ(repeated->count(), repeatedCount);
    EXPECT_EQ(repeated->keys(), keys);
}

TEST(DuplicateCandidates, AreTheRecordsWhoseHashRepeatsInRecordOrder) {
    const std::vector<std::uint32_t> hashes = {4, 8, 4, 1, 8, 0, 2, 0, 4};
    std::optional<DuplicateCandidates> candidates = DuplicateCandidates::of(hashes);
    ASSERT_TRUE(candidates);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
    for (const DuplicateCandidates::Candidate &c : candidates->all())
        got.emplace_back(c.record, c.hash);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
        {0, 4}, {1, 8}, {2, 4}, {4, 8}, {5, 0}, {7, 0}, {8, 4}};
    EXPECT_EQ(got, expected);

    std::optional<DuplicateCandidates> distinct =
        DuplicateCandidates::of(std::vector<std::uint32_t>{1, 2, 3});
    ASSERT_TRUE(distinct);
    EXPECT_TRUE(distinct->all().empty());
}

} // namespace
} // namespace salvora
