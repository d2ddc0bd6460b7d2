// The facts the header search's walks read, against the blocks classified one by one from the
// end: every position's next stop, whether it is a terminator, and the sums up to it.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/bufferedio.h"
#include "engine/scanclasses.h"
#include "engine/stridefacts.h"
#include "engine/walkblocks.h"
#include "tests/support/tablebuilder.h"

namespace salvora {
namespace {

using testing::Bytes;

// Long stretches of type letters, so that walks run past pieces and rings, with stops,
// terminators, marked names and skipped blocks here and there.
Bytes blocksWithStops(std::mt19937 &random, std::size_t size) {
    Bytes file(size);
    for (auto &byte : file)
        byte = static_cast<std::uint8_t>("CDN+DNNDCD"[random() % 10]);
    for (std::size_t n = size / 300; n > 0; --n)
        file[random() % size] = static_cast<std::uint8_t>("\x0d\x1a\x00x "[random() % 5]);
    return file;
}

template <std::uint32_t Stride, std::size_t Sums, typename Blocks>
void expectFactsAsBlockByBlock(const Bytes &file, unsigned ringBits, std::mt19937 &random) {
    testing::TempDir dir;
    const std::string path = dir.file("t.bin");
    testing::writeFile(path, file);
    platform::OpenResult opened = platform::nativePlatform().openFile(
        path, {platform::Access::Read, platform::Share::Read, platform::Disposition::OpenExisting});
    ASSERT_TRUE(opened);
    WindowReader reader(*opened.file, file.size(), 1u << 16);
    StrideFacts<Stride, Sums> facts(ringBits, file.size());
    Bytes padded = file;
    padded.resize(file.size() + 64, 0);
    const std::size_t held = std::size_t{1} << ringBits;
    for (std::uint64_t end = 0; end < file.size();) {
        end = std::min<std::uint64_t>(file.size(), end + 1 + random() % (held / 2));
        const std::uint64_t oldest = end > held / 2 ? end - held / 2 : 0;
        facts.reach(reader, oldest, end, Blocks{});
        // From the end back: each position's next stop on its residue, and its sums to it.
        std::vector<std::uint64_t> stop(end - oldest, StrideFacts<Stride, Sums>::none);
        std::vector<std::array<std::uint32_t, Sums>> sums(end - oldest);
        for (std::uint64_t p = end; p-- > oldest;) {
            const BlockFacts<Sums> block = Blocks::one(padded.data() + p);
            const std::size_t at = p - oldest;
            if (block.stop) {
                stop[at] = p;
                EXPECT_EQ(facts.isTerminator(p), block.terminator) << p;
                continue;
            }
            if (p + Stride < end) {
                stop[at] = stop[at + Stride];
                for (std::size_t s = 0; s < Sums; ++s)
                    sums[at][s] = block.counts[s] + sums[at + Stride][s];
            }
            EXPECT_EQ(facts.nextStop(p), stop[at]) << p << " of " << end;
            // What many positions are read for at once carries whether that stop ends a list.
            const auto ring = facts.ring();
            const bool terminatorAhead =
                (ring.distance[p & ring.mask] & StrideFacts<Stride, Sums>::terminatorAhead) != 0;
            if (stop[at] != StrideFacts<Stride, Sums>::none) {
                EXPECT_EQ(terminatorAhead, facts.isTerminator(stop[at])) << p;
            }
            for (std::size_t s = 0; s < Sums && stop[at] != StrideFacts<Stride, Sums>::none; ++s)
                EXPECT_EQ(facts.sum(s, p, stop[at]), sums[at][s]) << p;
        }
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST(StrideFacts, EveryPositionKnowsItsNextStopAsBlockByBlock) {
    struct Narrow {
        ~Narrow() { allowWideVectors(true); }
    } restore;
    std::mt19937 random(17);
    for (int round = 0; round < 8 && !::testing::Test::HasFailure(); ++round) {
        allowWideVectors(round % 2 == 0);
        const Bytes file = blocksWithStops(random, 40000 + random() % 30000);
        const unsigned ringBits = round % 4 < 2 ? 12 : 17;
        expectFactsAsBlockByBlock<32, 1, DescriptorBlocks>(file, ringBits, random);
        expectFactsAsBlockByBlock<48, 2, Level7Blocks>(file, ringBits, random);
    }
}

} // namespace
} // namespace salvora
