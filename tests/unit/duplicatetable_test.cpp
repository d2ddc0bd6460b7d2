#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/duplicatetable.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;
using testing::bytesOf;

std::span<const std::uint8_t> view(const Bytes &bytes) {
    return {bytes.data(), bytes.size()};
}

TEST(SuperFastHash, MatchesAnIndependentImplementation) {
    // Printed by tests/data/superfasthash.py. Every tail length (0 to 3 bytes after the
    // 4-byte groups) appears, and tail bytes of 0x80 and above, which are mixed in as signed
    // chars.
    struct Case {
        Bytes key;
        std::uint32_t hash;
    };
    const std::string letters = "abcdefghi";
    const std::uint32_t byLength[] = {0x00000000, 0x115EA782, 0x516B8B44, 0xD2BE198A, 0xDAD8B8DB,
                                      0x51ED072E, 0x963B9DDA, 0xF071C3ED, 0xBE0F7428, 0x6F56E0D8};
    std::vector<Case> cases;
    for (std::size_t n = 0; n < 10; ++n)
        cases.push_back({bytesOf(letters.substr(0, n)), byLength[n]});
    Bytes eleven;
    for (std::uint8_t b = 0x80; b < 0x8B; ++b)
        eleven.push_back(b);
    cases.insert(cases.end(),
                 {
                     {Bytes{0x80}, 0xF30533C4},
                     {Bytes{0xFF}, 0x00000000}, // 1 + (-1) leaves nothing to mix
                     {Bytes{0x7F}, 0xD6F4CB32},
                     {Bytes{0xFF, 0xFE}, 0xF9EBDCF0},
                     {Bytes{'a', 'b', 0x80}, 0x81AA4BD5},
                     {Bytes{'a', 'b', 0xFF}, 0xC25F0954},
                     {Bytes{0x01, 0x02, 0x03, 0xFF}, 0xCE872B3B},
                     {Bytes{0xE9, 't', 0xE9, 0x9F, 0x80}, 0x4EF65263},
                     {Bytes{0xC3, 0xA9, 't', 0xC3, 0xA9, 0x9F, 0x80}, 0x550969D6},
                     {eleven, 0x91CA441E},
                     {bytesOf("Customer 0000000042" + std::string(80, ' ')), 0xC185D350},
                 });
    for (const Case &c : cases) {
        char expected[16];
        std::snprintf(expected, sizeof expected, "%08X", c.hash);
        char got[16];
        std::snprintf(got, sizeof got, "%08X",
                      superFastHash(c.key.data(), static_cast<std::int32_t>(c.key.size())));
        EXPECT_STREQ(got, expected) << "key of " << c.key.size() << " bytes";
    }
}

TEST(SuperFastHash, MissingKeyOrNoLengthHashesToZero) {
    const std::uint8_t key[] = {'a', 'b', 'c'};
    EXPECT_EQ(superFastHash(nullptr, 3), 0u);
    EXPECT_EQ(superFastHash(key, 0), 0u);
    EXPECT_EQ(superFastHash(key, -1), 0u);
}

TEST(DuplicateTable, EqualKeyIsFoundAndNamesTheFirstRecord) {
    DuplicateTable table;
    std::uint32_t earlier = 99;
    EXPECT_FALSE(table.findOrAdd(view(bytesOf("abc")), 0, &earlier));
    EXPECT_FALSE(table.findOrAdd(view(bytesOf("abd")), 1, &earlier));
    EXPECT_FALSE(table.findOrAdd(view(bytesOf("Abc")), 2, &earlier));
    EXPECT_EQ(earlier, 99u);
    EXPECT_TRUE(table.findOrAdd(view(bytesOf("abc")), 3, &earlier));
    EXPECT_EQ(earlier, 0u);
    // A duplicate is not stored again: the next one still names record 0.
    EXPECT_TRUE(table.findOrAdd(view(bytesOf("abc")), 4, &earlier));
    EXPECT_EQ(earlier, 0u);
    EXPECT_EQ(table.count(), 3u);
}

TEST(DuplicateTable, KeysSharingAHashAreToldApartByTheirBytes) {
    // Both pairs collide (see tests/data/superfasthash.py).
    const Bytes first = bytesOf("k0000002"), second = bytesOf("k0020200");
    const Bytes third = bytesOf("k0000003"), fourth = bytesOf("k0020201");
    ASSERT_EQ(superFastHash(first.data(), 8), superFastHash(second.data(), 8));
    DuplicateTable table;
    EXPECT_FALSE(table.findOrAdd(view(first), 0));
    EXPECT_FALSE(table.findOrAdd(view(second), 1));
    EXPECT_FALSE(table.findOrAdd(view(third), 2));
    EXPECT_FALSE(table.findOrAdd(view(fourth), 3));
    std::uint32_t earlier = 0;
    EXPECT_TRUE(table.findOrAdd(view(second), 4, &earlier));
    EXPECT_EQ(earlier, 1u);
    EXPECT_TRUE(table.findOrAdd(view(first), 5, &earlier));
    EXPECT_EQ(earlier, 0u);
    EXPECT_TRUE(table.findOrAdd(view(fourth), 6, &earlier));
    EXPECT_EQ(earlier, 3u);
}

TEST(DuplicateTable, EmptyKeysAreAllEqualAndOtherLengthsNeverMatch) {
    DuplicateTable empty;
    EXPECT_FALSE(empty.findOrAdd({}, 0));
    EXPECT_TRUE(empty.findOrAdd({}, 1));

    DuplicateTable table;
    EXPECT_FALSE(table.findOrAdd(view(bytesOf("abc")), 0));
    EXPECT_FALSE(table.findOrAdd(view(bytesOf("abcd")), 1));
    EXPECT_FALSE(table.findOrAdd(view(bytesOf("abcd")), 2));
    EXPECT_FALSE(table.findOrAdd(view(bytesOf("ab")), 3));
    EXPECT_EQ(table.count(), 1u);
    EXPECT_TRUE(table.findOrAdd(view(bytesOf("abc")), 4));
}

TEST(DuplicateTable, LookAheadNeverChangesAnAnswer) {
    std::vector<Bytes> keys;
    for (const char *k : {"k0000002", "k0020200", "aaaaaaaa", "k0000002", "bbbbbbbb", "k0020200",
                          "aaaaaaaa", "cccccccc", "bbbbbbbb"})
        keys.push_back(bytesOf(k));
    const bool duplicate[] = {false, false, false, true, false, true, true, false, true};
    DuplicateTable table;
    constexpr std::uint32_t ahead = 3;
    for (std::uint32_t i = 0; i < ahead; ++i)
        table.prefetch(view(keys[i]), i);
    for (std::uint32_t i = 0; i < keys.size(); ++i) {
        if (i + ahead < keys.size())
            table.prefetch(view(keys[i + ahead]), i + ahead);
        EXPECT_EQ(table.findOrAdd(view(keys[i]), i), duplicate[i]) << i;
    }

    // A look-ahead taken of other bytes, or overtaken by a later record's, is not trusted.
    const Bytes stored = bytesOf("aaaaaaaa"), other = bytesOf("zzzzzzzz");
    table.prefetch(view(other), 20);
    EXPECT_TRUE(table.findOrAdd(view(stored), 20));
    table.prefetch(view(other), 21);
    table.prefetch(view(bytesOf("yyyyyyyy")), 21 + 16);
    EXPECT_TRUE(table.findOrAdd(view(stored), 21));
    table.prefetch(view(bytesOf("abc")), 22); // another length: ignored
    EXPECT_FALSE(table.findOrAdd(view(other), 22));
    EXPECT_TRUE(table.findOrAdd(view(other), 23));
}

TEST(DuplicateTable, ManyRecordsStayDistinctAndCostLittleMoreThanTheirKeys) {
    // Enough keys that every bucket holds dozens and its index grows several times.
    constexpr std::uint32_t keys = 300000;
    constexpr std::size_t keyLength = 99;
    auto key = [](std::uint32_t i) {
        Bytes k(keyLength, ' ');
        char digits[16];
        int n = std::snprintf(digits, sizeof digits, "%u", i * 7919u);
        std::copy(digits, digits + n, k.begin() + 20);
        k[keyLength - 1] = static_cast<std::uint8_t>(0x80 + i % 3);
        return k;
    };
    DuplicateTable table;
    std::uint32_t falseHits = 0;
    for (std::uint32_t i = 0; i < keys; ++i)
        falseHits += table.findOrAdd(view(key(i)), i);
    EXPECT_EQ(falseHits, 0u);
    EXPECT_EQ(table.count(), keys);

    std::uint32_t misses = 0, wrongRecord = 0;
    for (std::uint32_t i = 0; i < keys; i += 7) {
        std::uint32_t earlier = 0;
        misses += !table.findOrAdd(view(key(i)), keys + i, &earlier);
        wrongRecord += earlier != i;
    }
    EXPECT_EQ(misses, 0u);
    EXPECT_EQ(wrongRecord, 0u);
    EXPECT_EQ(table.count(), keys);

    // The keys, a few words per entry, one partly used key block and the bucket array: no
    // allocation per entry.
    std::size_t keyBytes = std::size_t{keys} * keyLength;
    EXPECT_LE(table.memoryBytes(),
              keyBytes + std::size_t{keys} * 32 + (4u << 20) + DuplicateTable::bucketCount * 16);
}

} // namespace
} // namespace salvora
