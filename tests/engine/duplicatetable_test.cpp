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

TEST(SuperFastHash, HashesOfManyKeysAtOnceAreTheHashesOfEach) {
    // Every tail length, keys shorter and longer than what is taken at once, and counts
    // around the number of keys taken at once; bytes of 0x80 and above throughout.
    constexpr std::size_t stride = 110;
    Bytes records(64 * stride);
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i] = static_cast<std::uint8_t>(i * 131 + (i >> 5) * 7);
    for (std::size_t length : {0, 1, 2, 3, 4, 5, 7, 8, 11, 15, 16, 17, 20, 33, 99, 100, 101, 102}) {
        for (std::size_t count : {0, 1, 3, 4, 7, 8, 9, 16, 17, 63}) {
            std::vector<std::uint32_t> hashes(count, 0xDEAD);
            DuplicateTable::hashEach(records.data() + 1, stride, length, hashes);
            for (std::size_t k = 0; k < count; ++k)
                ASSERT_EQ(hashes[k], superFastHash(records.data() + 1 + k * stride,
                                                   static_cast<std::int32_t>(length)))
                    << length << " bytes, key " << k << " of " << count;
        }
    }
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
    table.prefetch(DuplicateTable::hashOf(view(keys[0]))); // before there is an index
    table.prefetchKey(DuplicateTable::hashOf(view(keys[0])));
    constexpr std::uint32_t ahead = 3;
    std::vector<std::uint32_t> hashes;
    for (const Bytes &key : keys)
        hashes.push_back(DuplicateTable::hashOf(view(key)));
    for (std::uint32_t i = 0; i < keys.size(); ++i) {
        if (i + ahead < keys.size())
            table.prefetch(hashes[i + ahead]);
        if (i + 1 < keys.size())
            table.prefetchKey(hashes[i + 1]);
        EXPECT_EQ(table.findOrAdd(view(keys[i]), hashes[i], i), duplicate[i]) << i;
    }
    EXPECT_EQ(table.count(), 5u);

    // A hash taken ahead is the one the table takes itself.
    for (const Bytes &key : keys)
        EXPECT_EQ(DuplicateTable::hashOf(view(key)),
                  superFastHash(key.data(), static_cast<std::int32_t>(key.size())));
}

TEST(DuplicateTable, KeysThatAllShareOneHashAreStillToldApart) {
    // Any hash serves as long as equal keys share it; with one hash for all, every lookup
    // walks past all the others and the index still grows.
    constexpr std::uint32_t keys = 3000;
    auto key = [](std::uint32_t i) { return bytesOf("key " + std::to_string(i * 7) + "    "); };
    DuplicateTable table;
    for (std::uint32_t i = 0; i < keys; ++i) {
        Bytes k = key(i);
        k.resize(12, ' ');
        ASSERT_FALSE(table.findOrAdd(view(k), 0x5EED, i)) << i;
    }
    for (std::uint32_t i = 0; i < keys; i += 37) {
        Bytes k = key(i);
        k.resize(12, ' ');
        std::uint32_t earlier = 0;
        ASSERT_TRUE(table.findOrAdd(view(k), 0x5EED, keys + i, &earlier)) << i;
        EXPECT_EQ(earlier, i);
        table.prefetchKey(0x5EED);
    }
    Bytes other = bytesOf("not a key   ");
    EXPECT_FALSE(table.findOrAdd(view(other), 0x5EED, 2 * keys));
    EXPECT_EQ(table.count(), keys + 1);
}

TEST(DuplicateTable, TheIndexGrowsPastItsFirstSizeWithoutLosingAKey) {
    // Past the first index and through many doublings, with keys checked after each.
    auto key = [](std::uint32_t i) {
        char text[16];
        std::snprintf(text, sizeof text, "r%09u", i);
        return bytesOf(text);
    };
    DuplicateTable table;
    std::uint32_t added = 0;
    for (std::uint32_t round = 0; round < 7; ++round) {
        std::uint32_t until = 1000u << round;
        for (; added < until; ++added)
            ASSERT_FALSE(table.findOrAdd(view(key(added)), added)) << added;
        for (std::uint32_t i = 0; i < added; i += 97) {
            std::uint32_t earlier = 0;
            ASSERT_TRUE(table.findOrAdd(view(key(i)), added + i, &earlier)) << i;
            ASSERT_EQ(earlier, i);
        }
    }
    EXPECT_EQ(table.count(), added);
}

TEST(DuplicateTable, EmptyKeysGrowNoIndexBeyondTheFirst) {
    DuplicateTable table;
    std::uint32_t earlier = 7;
    EXPECT_FALSE(table.findOrAdd({}, 0, &earlier));
    for (std::uint32_t i = 1; i < 5000; ++i)
        ASSERT_TRUE(table.findOrAdd({}, i, &earlier));
    EXPECT_EQ(earlier, 0u);
    EXPECT_EQ(table.count(), 1u);
    // One key block (of record indexes alone) and the first index.
    EXPECT_LE(table.memoryBytes(), (std::size_t{4} << 20) + (std::size_t{64} << 10));
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

    // The keys, a few words per entry and one partly used key block: no allocation per entry.
    std::size_t keyBytes = std::size_t{keys} * keyLength;
    EXPECT_LE(table.memoryBytes(), keyBytes + std::size_t{keys} * 32 + (4u << 20));
}

} // namespace
} // namespace salvora
