#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/scanclasses.h"
#include "engine/shortwalks.h"
#include "engine/tableformat.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;

std::uint32_t word(const std::uint8_t *p) {
    return p[0] | p[1] << 8u;
}
std::uint32_t lengthOf(const std::uint8_t *letter, const std::uint8_t *low) {
    return *letter == 'C' ? word(low) : *low;
}
bool accepted(const std::uint8_t *block, std::size_t letterAt) {
    std::uint8_t probe[32] = {};
    std::memcpy(probe, block, 11);
    probe[11] = block[letterAt];
    return isAcceptedFieldType(probe);
}

// Whether the one-offset search may count the candidate at `k`, block by block: a record of
// the flag alone, or a record length that is what its walk adds up.
bool mayCount(const Bytes &file, std::size_t k, std::size_t size) {
    const std::uint8_t *h = file.data() + k;
    const std::uint32_t headerLength = word(h + 8), recordLength = word(h + 10);
    if (recordLength == 1)
        return true;
    if (recordLength == 0 || headerLength < 64 || headerLength > size)
        return false;
    std::uint32_t sum = 0;
    if ((h[0] & 7) == 4) {
        const std::uint8_t *first = h + 68;
        if (first[0] == 0x0D || !(acceptedTypeLetters[first[32]] || first[0] == '_'))
            return false;
        const std::uint32_t target = std::min<std::uint32_t>((headerLength - 68) / 48, 4096);
        std::uint32_t collected = 0;
        bool marked = false;
        for (std::uint32_t read = 0; read < 4096; ++read) {
            const std::uint8_t *b = first + 48 * read;
            if (b[0] == 0x0D)
                break;
            if (!accepted(b, 32))
                return recordLength == 1;
            if (b[33] != 0) {
                ++collected;
                marked |= b[0] == 0x1A;
                if (!marked)
                    sum += lengthOf(b + 32, b + 33);
            }
            if (collected >= target)
                break;
        }
        return recordLength == 1 + sum;
    }
    const std::int32_t count = h[0] >= 0x30 && h[0] <= 0x32
                                   ? (static_cast<std::int32_t>(headerLength) - 296) / 32
                                   : static_cast<std::int32_t>((headerLength - 32) / 32);
    const std::uint8_t *first = h + 32;
    if (count < 1 || count > 500 || first[0] == 0x0D || first[0] == 0x1A ||
        !(acceptedTypeLetters[first[11]] || first[0] == '_'))
        return false;
    for (std::int32_t i = 0; i < count; ++i) {
        const std::uint8_t *d = first + 32 * i;
        if (d[0] == 0x0D || d[0] == 0x1A || !accepted(d, 11))
            break;
        sum += lengthOf(d + 11, d + 16);
    }
    return recordLength == 1 + sum;
}

// A header at `at` with `blocks` blocks behind it: their lengths from `length`, the block
// `stop` (if any) a terminator, and a record length one more than the blocks up to `agreeing`
// add up (collected ones at level 7, up to a marked name).
void plant(Bytes &file, std::size_t at, bool level7, std::uint32_t claimed, std::uint32_t blocks,
           std::uint32_t (*length)(std::uint32_t), std::uint32_t stop, std::uint32_t marked) {
    const std::size_t stride = level7 ? 48 : 32, headerSize = level7 ? 68 : 32;
    const std::size_t letterAt = level7 ? 32 : 11, lengthAt = level7 ? 33 : 16;
    const auto headerLength = static_cast<std::uint32_t>(headerSize + stride * claimed);
    std::uint32_t sum = 0;
    for (std::uint32_t i = 0; i < blocks && at + headerSize + stride * (i + 1) <= file.size();
         ++i) {
        std::uint8_t *b = file.data() + at + headerSize + stride * i;
        std::memset(b, ' ', stride);
        b[0] = i == stop ? 0x0D : i == marked ? 0x1A : static_cast<std::uint8_t>('A' + i % 26);
        const std::uint32_t n = length(i);
        b[letterAt] = n > 255 ? 'C' : 'N';
        b[lengthAt] = static_cast<std::uint8_t>(n);
        b[lengthAt + 1] = static_cast<std::uint8_t>(n > 255 ? n >> 8 : 0);
        if (i < stop && i < marked && i < claimed)
            sum += n;
    }
    std::uint8_t *h = file.data() + at;
    h[0] = level7 ? 0x04 : 0x03;
    h[8] = static_cast<std::uint8_t>(headerLength);
    h[9] = static_cast<std::uint8_t>(headerLength >> 8);
    h[10] = static_cast<std::uint8_t>(sum + 1);
    h[11] = static_cast<std::uint8_t>((sum + 1) >> 8);
}

// Every offset of a chunk (its first `count` bytes) that the one-offset search may count is
// one `firstLeft` stops at, whether the bounds are worked out when first wanted or with the
// tables.
void expectNoCountingOffsetSkipped(const Bytes &content, std::size_t count,
                                   const std::string &what) {
    Bytes file = content;
    const std::size_t size = file.size();
    file.resize(size + 4096 * 48 + ShortWalks::bytesPast, 0);
    std::vector<std::uint8_t> classes(file.size());
    classifyForScan(file.data(), file.size(), classes.data());
    ShortWalks walks;
    for (int pass = 0; pass < 2; ++pass) {
        walks.build(file.data(), classes.data(), 0, count);
        std::vector<bool> stopped(count, false);
        for (std::size_t k = walks.firstLeft(file.data(), classes.data(), 0, count, size);
             k < count; k = walks.firstLeft(file.data(), classes.data(), k + 1, count, size))
            stopped[k] = true;
        for (std::size_t k = 0; k < count; ++k)
            ASSERT_TRUE(stopped[k] || !mayCount(file, k, size))
                << what << ", pass " << pass << ": offset " << k << " skipped";
    }
}

Bytes text(std::mt19937 &random, std::size_t size) {
    Bytes bytes(size);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789    "[random() % 40]);
    return bytes;
}

TEST(ShortWalks, NoOffsetThatMayCountIsSkipped) {
    if (!wideVectors())
        GTEST_SKIP() << "no wide vectors";
    std::mt19937 random(3);
    auto small = [](std::uint32_t i) { return 1 + i % 17; };
    auto large = [](std::uint32_t i) { return 200 + 3 * i; };
    const std::uint32_t none = ~0u;
    struct Case {
        const char *what;
        bool level7;
        std::uint32_t claimed, blocks;
        std::uint32_t (*length)(std::uint32_t);
        std::uint32_t stop, marked;
        bool nearEnd; // its walk reaches past what the tables hold of the chunk's end
    };
    const Case cases[] = {
        // What its first 64 blocks add up is all: the rest are of length 0.
        {"descriptors, 64 and 6 of length 0", false, 70, 70,
         [](std::uint32_t i) { return i < 64 ? 1 + i % 17 : 0; }, none, none, false},
        // A name marked past the 64th block adds nothing from there on.
        {"level 7, marked past 64", true, 66, 66, small, none, 64, false},
        {"descriptors, long", false, 120, 130, large, none, none, false},
        {"level 7, long", true, 100, 110, large, none, none, false},
        // A stop or a marked name before the 64th block, past what the tables hold.
        {"descriptors, stop at 30", false, 100, 100, large, 30, none, true},
        {"level 7, stop at 20", true, 100, 100, large, 20, none, true},
        {"level 7, marked at 20", true, 100, 100, large, none, 20, true},
    };
    for (const Case &c : cases) {
        Bytes file = text(random, 3000);
        const std::size_t at = c.nearEnd ? 2960 : 100;
        file.resize(std::max<std::size_t>(file.size(), at + 68 + 48 * c.blocks + 100), ' ');
        plant(file, at, c.level7, c.claimed, c.blocks, c.length, c.stop, c.marked);
        ASSERT_TRUE(mayCount(file, at, file.size())) << c.what;
        expectNoCountingOffsetSkipped(file, 3000, c.what);
        if (::testing::Test::HasFailure())
            return;
    }
    {
        // A name "_NULLFLAGS" needs no type letter: the walk goes on through it.
        Bytes file = text(random, 3000);
        plant(file, 100, false, 20, 20, small, none, none);
        std::memcpy(file.data() + 100 + 32 + 5 * 32, "_NULLFLAGS\0", 11);
        file[100 + 32 + 5 * 32 + 11] = '0';
        ASSERT_TRUE(mayCount(file, 100, file.size()));
        expectNoCountingOffsetSkipped(file, file.size(), "through _NULLFLAGS");
    }
    // And at random: walks of every length, stopped, marked or not, agreeing or one off.
    for (int round = 0; round < 60; ++round) {
        Bytes file = text(random, 3000 + random() % 3000);
        const std::size_t count = file.size() - random() % 200;
        file.resize(file.size() + 8000, ' ');
        for (int n = 0; n < 4; ++n) {
            const bool level7 = random() % 2 == 0;
            const auto claimed = static_cast<std::uint32_t>(1 + random() % 150);
            const std::size_t at = random() % count;
            plant(file, at, level7, claimed, claimed + static_cast<std::uint32_t>(random() % 10),
                  random() % 2 ? +small : +large,
                  random() % 3 == 0 ? static_cast<std::uint32_t>(random() % 100) : none,
                  random() % 4 == 0 ? static_cast<std::uint32_t>(random() % 100) : none);
            file[at + 10] = static_cast<std::uint8_t>(file[at + 10] + random() % 2);
        }
        expectNoCountingOffsetSkipped(file, count, "round " + std::to_string(round));
        if (::testing::Test::HasFailure())
            return;
    }
}

} // namespace
} // namespace salvora
