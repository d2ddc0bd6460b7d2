#include "engine/headerscan.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "engine/bufferedio.h"
#include "engine/recordsample.h"
#include "engine/scanclasses.h"
#include "engine/shortwalks.h"
#include "engine/stridefacts.h"
#include "engine/tableformat.h"
#include "engine/walkbatch.h"
#include "engine/walkblocks.h"

// The bitwise operators on truth values are deliberate: no branch for random bytes to mispredict.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wbitwise-instead-of-logical"
#endif

namespace salvora {

namespace {

constexpr std::uint64_t descriptorStride = fieldDescriptorSize;
// No header length from here on gives a walk over 32-byte descriptors (at most 500 of them,
// with or without the Visual FoxPro backlink).
constexpr std::uint32_t descriptorWalkHeaderLimit = 296 + 32 * (fieldCountLimit + 1);
// Offsets are looked at a chunk at a time; a walk's first blocks straight from it. Walks over
// junk seldom get further, and classifying the blocks ahead for them would cost more.
constexpr std::uint64_t chunkSize = 32u << 10;
constexpr int directBlocks = 8;
constexpr std::size_t chunkMargin =
    std::max(level7HeaderSize + directBlocks * level7DescriptorSize + 64, ShortWalks::bytesPast);
// Blocks classified ahead of need, so that a long walk asks for more only now and then.
constexpr std::uint64_t reachSlack = 4096;
// Where offsets are settled a plan at a time, every block ahead is asked about.
constexpr std::uint64_t planReachSlack = 12288;
// Runs of one byte and repeated 32- and 48-byte blocks all repeat with this period.
constexpr std::uint64_t repeatPeriod = 96;
constexpr std::size_t repeatCheckInterval = 4096;

// Where the bytes repeat, a level 7 walk meets the same two blocks over and over: how far it
// reads follows from them (to a stop, until it has collected its descriptors, or to the limit).
std::uint64_t level7ExtentInRepetition(const std::uint8_t *header) {
    static_assert(repeatPeriod == 2 * level7DescriptorSize);
    const BlockFacts<2> even = classifyLevel7(header + level7HeaderSize);
    const BlockFacts<2> odd = classifyLevel7(header + level7HeaderSize + level7DescriptorSize);
    std::uint64_t blocks = level7ReadLimit + 1;
    if (even.stop) {
        blocks = 1;
    } else if (odd.stop) {
        blocks = 2;
    } else {
        const std::uint32_t headerLength = readLe16(header + 8);
        const std::uint64_t maximum = headerLength > level7HeaderSize
                                          ? (headerLength - level7HeaderSize) / level7DescriptorSize
                                          : 0;
        const std::uint64_t target = std::min<std::uint64_t>(maximum, level7ReadLimit);
        const std::uint32_t collectedPerPair =
            collectedOf(even.counts[level7Tally]) + collectedOf(odd.counts[level7Tally]);
        if (collectedPerPair == 2)
            blocks = target + 1;
        else if (collectedPerPair == 1)
            blocks = std::min<std::uint64_t>(2 * target + 2, blocks);
    }
    return level7HeaderSize + level7DescriptorSize * (blocks + 1) + 64;
}

// How far past an offset its decision without acceptance may read: its header, its first
// blocks and the blocks its walk may cover (see `firstThatMayCount` and `lengthsMayAgree`).
std::uint64_t decisionExtent(const std::uint8_t *header) {
    if (isLevel7Type(header[0]))
        return level7ExtentInRepetition(header);
    return 128 +
           descriptorStride * std::min<std::uint32_t>(readLe16(header + 8) / 32u, fieldCountLimit);
}

// The filter's class of a header length's high byte: below 0x40 is where a descriptor walk may be.
static_assert((0x3Fu << 8) < descriptorWalkHeaderLimit &&
              (0x40u << 8) >= descriptorWalkHeaderLimit);

// Classes the filter looks at past the last offset it settles.
constexpr std::size_t classLookAhead =
    std::max({level7HeaderSize + 32 + 16, walkPlanClasses, ShortWalks::bytesPast});
static_assert(classLookAhead <= chunkMargin && walkPlanBytes <= chunkMargin);

std::uint64_t load8(const std::uint8_t *p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// Without acceptance to lose, an offset counts only when its lengths can agree: a record of
// the deletion flag alone, or a walk, which needs a type letter (or a name like "_NULLFLAGS")
// where its first descriptor would be. Eight offsets at a time over their bytes' classes; the
// first offset from `i` on that may count, or `count`.
static_assert(underscoreClass == 1 << 1 && level7Class == 1 << 2 && smallClass == 1 << 3 &&
              oneClass == 1 << 4 && zeroClass == 1 << 5); // the shifts below
std::size_t firstPastFilter(const std::uint8_t *classes, std::size_t i, std::size_t count) {
    constexpr std::uint64_t lowBits = 0x0101010101010101ull;
    for (; i < count; i += 8) {
        const std::uint8_t *c = classes + i;
        const std::uint64_t level7Walks = (load8(c) >> 2) & (load8(c + level7HeaderSize + 32) |
                                                             (load8(c + level7HeaderSize) >> 1));
        const std::uint64_t walks = (load8(c + 9) >> 3) & (load8(c + tableHeaderSize + 11) |
                                                           (load8(c + tableHeaderSize) >> 1));
        const std::uint64_t flagAlone = (load8(c + 10) >> 4) & (load8(c + 11) >> 5);
        const std::uint64_t passed = (level7Walks | walks | flagAlone) & lowBits;
        if (passed != 0) {
            const int bit = std::endian::native == std::endian::little ? std::countr_zero(passed)
                                                                       : std::countl_zero(passed);
            return std::min(count, i + static_cast<std::size_t>(bit / 8));
        }
    }
    return count;
}

// What a candidate's descriptor walk decides.
struct Walk {
    std::int32_t fieldCount = 0;
    std::uint32_t lengthSum = 0;
    bool unacceptable = false;
};

// A descriptor walk over its first blocks, read in place (`first` has `directBlocks` of them):
// false when it goes on past them.
[[gnu::always_inline]] inline bool descriptorsInPlace(const std::uint8_t *first, std::int32_t limit,
                                                      Walk &walk) {
    walk.fieldCount = limit;
    for (int i = 0; i < std::min(limit, directBlocks); ++i) {
        BlockFacts<1> facts = classifyDescriptor(first + i * descriptorStride);
        if (facts.stop) {
            if (facts.terminator)
                walk.fieldCount = i;
            walk.unacceptable = !facts.terminator;
            return true;
        }
        walk.lengthSum += facts.counts[0];
    }
    return limit <= directBlocks;
}

// The level 7 conversion over its first blocks, read in place: false when it goes on past
// them. It collects descriptors of nonzero length until `maximum` of them, a terminator or
// 4096 reads; one of no accepted type leaves nothing. The walk over what it collected stops
// at a name starting with an end-of-file marker.
[[gnu::always_inline]] inline bool level7InPlace(const std::uint8_t *first, std::uint32_t maximum,
                                                 Walk &walk) {
    std::uint32_t collected = 0;
    bool marked = false;
    for (int i = 0; i < directBlocks; ++i) {
        BlockFacts<2> facts = classifyLevel7(first + i * level7DescriptorSize);
        if (facts.stop) {
            if (!facts.terminator) {
                walk = Walk{};
                return true;
            }
            break;
        }
        if (collectedOf(facts.counts[level7Tally]) != 0) {
            ++collected;
            marked |= markedOf(facts.counts[level7Tally]) != 0;
            if (!marked) {
                ++walk.fieldCount;
                walk.lengthSum += facts.counts[level7Length];
            }
        }
        if (collected >= level7ReadLimit || collected >= maximum)
            break;
        if (i + 1 == directBlocks)
            return false;
    }
    if (!marked)
        walk.fieldCount = static_cast<std::int32_t>(collected);
    return true;
}

class Scanner {
  public:
    Scanner(WindowReader &reader, WindowReader &sampler)
        : reader_(reader), sampler_(sampler), descriptors_(16, reader.fileSize()),
          level7_(18, reader.fileSize()) {}

    std::optional<HeaderScanHit> run(std::uint64_t from, bool acceptance);

  private:
    // Both may move the reader's window. Kept out of the loop over offsets; they answer
    // through `out` field by field (a small struct handed back whole is stored in pieces and
    // loaded at once, which stalls).
    [[gnu::noinline]] void walkDescriptors(const std::uint8_t *first, std::uint64_t start,
                                           std::int32_t limit, Walk &out) {
        Walk walk = descriptorWalk(first, start, limit);
        out.fieldCount = walk.fieldCount;
        out.lengthSum = walk.lengthSum;
        out.unacceptable = walk.unacceptable;
    }
    [[gnu::noinline]] void walkLevel7(const std::uint8_t *first, std::uint64_t start,
                                      std::uint32_t maximum, Walk &out) {
        Walk walk = level7Walk(first, start, maximum);
        out.fieldCount = walk.fieldCount;
        out.lengthSum = walk.lengthSum;
        out.unacceptable = walk.unacceptable;
    }
    // The first offset from `i` on that may count without acceptance, or `count`: walks over
    // blocks classified already are settled here, in one loop with the filter.
    // May move the reader's window.
    std::size_t firstThatMayCount(const std::uint8_t *chunk, std::uint64_t chunkStart,
                                  std::size_t i, std::size_t count, std::uint64_t fileSize) {
        // Most offsets fail the filter, or with the vectors, their short walks settle them
        // (`ShortWalks`). Where three in eight are left even so, their walks are settled a plan
        // at a time, until fewer than an eighth of a plan's offsets walk; without the vectors
        // for that, the filter is skipped while offsets walk one after the other.
        constexpr std::size_t batchFrom = walkPlanOffsets * 3 / 8;
        int walksInARow = 0;
        for (;; ++i) {
            if (batched_) {
                const Settled settled = settleWalks(chunk, chunkStart, i, count);
                i = settled.next;
                if (settled.moved)
                    chunk = viewChunk();
            } else if (walksInARow < 8 || batches_) {
                std::size_t next =
                    batches_ ? firstLeftByShortWalks(chunk, chunkStart, i, count, fileSize)
                             : firstPastFilter(classes_.data(), i, count);
                walksInARow = next == i ? walksInARow + 1 : 0;
                const std::uint64_t at = chunkStart + next;
                if (at - passWindowStart_ >= walkPlanOffsets) {
                    passWindowStart_ = at;
                    passedInWindow_ = 0;
                }
                batched_ = ++passedInWindow_ >= batchFrom && batches_;
                i = next;
            }
            if (i == count)
                return i;
            const std::uint8_t *header = chunk + i;
            const std::uint32_t headerLength = readLe16(header + 8);
            const std::uint32_t recordLength = readLe16(header + 10);
            if (recordLength == 1)
                return i;
            if (recordLength == 0 || headerLength < 2 * tableHeaderSize ||
                headerLength > fileSize) {
                walksInARow = 0;
                continue;
            }
            const std::uint8_t type = header[0];
            Walk walk;
            if (isLevel7Type(type)) {
                const std::uint8_t *block = header + level7HeaderSize;
                if (block[0] == headerTerminator ||
                    !(acceptedTypeLetters[block[32]] | (block[0] == '_'))) {
                    walksInARow = 0;
                    continue;
                }
                std::uint32_t maximum =
                    (headerLength - static_cast<std::uint32_t>(level7HeaderSize)) /
                    static_cast<std::uint32_t>(level7DescriptorSize);
                if (!level7Held(chunkStart + i + level7HeaderSize, maximum, walk) &&
                    !level7InPlace(block, maximum, walk))
                    return i;
            } else {
                std::int32_t fieldCount =
                    isVisualFoxProType(type)
                        ? (static_cast<std::int32_t>(headerLength) - 296) / 32
                        : static_cast<std::int32_t>((headerLength - tableHeaderSize) / 32u);
                const std::uint8_t *first = header + tableHeaderSize;
                if (static_cast<std::uint32_t>(fieldCount - 1) >= fieldCountLimit ||
                    first[0] == headerTerminator || first[0] == endOfFileMarker ||
                    !(acceptedTypeLetters[first[11]] | (first[0] == '_'))) {
                    walksInARow = 0;
                    continue;
                }
                if (!walkHeld(chunkStart + i + tableHeaderSize, fieldCount, walk) &&
                    !descriptorsInPlace(first, fieldCount, walk))
                    return i;
            }
            if (recordLength == 1 + walk.lengthSum)
                return i;
        }
    }
    // The first offset from `i` on that the short walks leave, or `count`.
    std::size_t firstLeftByShortWalks(const std::uint8_t *chunk, std::uint64_t chunkStart,
                                      std::size_t i, std::size_t count, std::uint64_t fileSize) {
        if (shortWalksChunk_ != chunkStart || i < shortWalksFrom_) {
            shortWalks_.build(chunk, classes_.data(), i, chunkCount_);
            shortWalksChunk_ = chunkStart;
            shortWalksFrom_ = i;
        }
        return shortWalks_.firstLeft(chunk, classes_.data(), i, count, fileSize);
    }
    // Whether the record length of the candidate at `k` can be the one its walk adds up:
    // false settles a candidate that has no acceptance to lose. May move the reader's window.
    bool lengthsMayAgree(const std::uint8_t *header, std::uint64_t k, std::uint64_t fileSize) {
        const std::uint32_t headerLength = readLe16(header + 8);
        const std::uint32_t recordLength = readLe16(header + 10);
        if (recordLength == 0 || headerLength < 2 * tableHeaderSize || headerLength > fileSize)
            return false;
        const std::uint8_t type = header[0];
        Walk walk;
        if (isLevel7Type(type)) {
            const std::uint8_t *block = header + level7HeaderSize;
            if (block[0] == headerTerminator ||
                !(acceptedTypeLetters[block[32]] | (block[0] == '_')))
                return recordLength == 1;
            std::uint32_t maximum = (headerLength - static_cast<std::uint32_t>(level7HeaderSize)) /
                                    static_cast<std::uint32_t>(level7DescriptorSize);
            if (!level7Held(k + level7HeaderSize, maximum, walk))
                walkLevel7(block, k + level7HeaderSize, maximum, walk);
            return recordLength == 1 + walk.lengthSum;
        }
        std::int32_t fieldCount =
            isVisualFoxProType(type)
                ? (static_cast<std::int32_t>(headerLength) - 296) / 32
                : static_cast<std::int32_t>((headerLength - tableHeaderSize) / 32u);
        const std::uint8_t *first = header + tableHeaderSize;
        if (static_cast<std::uint32_t>(fieldCount - 1) >= fieldCountLimit ||
            first[0] == headerTerminator || first[0] == endOfFileMarker ||
            !(acceptedTypeLetters[first[11]] | (first[0] == '_')))
            return recordLength == 1;
        if (!walkHeld(k + tableHeaderSize, fieldCount, walk))
            walkDescriptors(first, k + tableHeaderSize, fieldCount, walk);
        return recordLength == 1 + walk.lengthSum;
    }
    // The level 7 walk over blocks classified already, when it collects every block up to its
    // limit and meets no stop and no marked name; false otherwise.
    bool level7Held(std::uint64_t start, std::uint32_t maximum, Walk &walk) const {
        std::uint32_t target = std::min<std::uint32_t>(maximum, level7ReadLimit);
        std::uint64_t end = start + level7DescriptorSize * target;
        if (target == 0 || !level7_.holds(start, end))
            return false;
        std::uint64_t stop = level7_.nextStop(start);
        const std::uint32_t tally = level7_.sum(level7Tally, start, end);
        if (stop < end || collectedOf(tally) != target || markedOf(tally) != 0)
            return false;
        walk.fieldCount = static_cast<std::int32_t>(target);
        walk.lengthSum = level7_.sum(level7Length, start, end);
        return true;
    }
    // Where `settleWalks` stopped, and whether it moved the reader's window.
    struct Settled {
        std::size_t next;
        bool moved;
    };
    Settled settleWalks(const std::uint8_t *chunk, std::uint64_t chunkStart, std::size_t i,
                        std::size_t count);
    const std::uint8_t *viewChunk() {
        return reader_.view(chunkViewStart_, chunkViewLength_) + chunkLead_;
    }
    Walk descriptorWalk(const std::uint8_t *first, std::uint64_t start, std::int32_t limit);
    std::uint64_t pastRepetition(const std::uint8_t *here, std::uint64_t at);
    std::uint64_t repetitionEnd(std::uint64_t at);
    // The walk over blocks classified already; false when they do not reach far enough.
    bool walkHeld(std::uint64_t start, std::int32_t limit, Walk &walk) const {
        std::uint64_t end = start + descriptorStride * static_cast<std::uint64_t>(limit);
        if (!descriptors_.holds(start, end))
            return false;
        std::uint64_t stop = descriptors_.nextStop(start);
        if (stop >= end) {
            walk.lengthSum = descriptors_.sum(0, start, end);
            return true;
        }
        walk.lengthSum = descriptors_.sum(0, start, stop);
        if (descriptors_.isTerminator(stop))
            walk.fieldCount = static_cast<std::int32_t>((stop - start) / descriptorStride);
        else
            walk.unacceptable = true;
        return true;
    }
    Walk level7Walk(const std::uint8_t *first, std::uint64_t start, std::uint32_t maximum);
    Walk level7FromFacts(std::uint64_t start, std::uint32_t target);
    void reachLevel7(std::uint64_t start, std::uint64_t end) {
        reachUnlessHeld(level7_, start, end - 1, reachSlack, Level7Blocks{});
    }
    // Classifies the blocks from `start` to `last`, and `slack` beyond, unless they are held:
    // whether it did, and so may have moved the reader's window.
    template <typename Facts, typename Blocks>
    bool reachUnlessHeld(Facts &facts, std::uint64_t start, std::uint64_t last, std::uint64_t slack,
                         Blocks blocks) {
        if (facts.holds(start, last))
            return false;
        facts.reach(reader_, start, last + 1 + slack, blocks);
        return true;
    }

    WindowReader &reader_;
    WindowReader &sampler_;
    StrideFacts<descriptorStride, 1> descriptors_;
    StrideFacts<level7DescriptorSize, 2> level7_;
    // Where the repetition last measured ends; none is looked for again before it.
    std::uint64_t repetitionKnownEnd_ = 0;
    // Whether offsets may be settled a plan at a time, and are (see `firstThatMayCount`);
    // where the last few offsets that passed the filter lie.
    const bool batches_ = wideVectors();
    bool batched_ = false;
    std::uint64_t passWindowStart_ = 0;
    std::size_t passedInWindow_ = 0;
    // The last plan of `settleWalks`, and where a plan may repeat it (0: nowhere).
    WalkPlan plan_;
    std::uint64_t repeatableAt_ = 0;
    // The chunk's view: where it starts, how long it is, and how far into it the chunk starts.
    std::uint64_t chunkViewStart_ = 0;
    std::size_t chunkViewLength_ = 0;
    std::size_t chunkLead_ = 0;
    // The chunk's offsets settled by their short walks (`firstLeftByShortWalks`): the chunk
    // they are worked out for, and from which offset on.
    ShortWalks shortWalks_;
    std::uint64_t shortWalksChunk_ = ~std::uint64_t{0};
    std::size_t shortWalksFrom_ = 0;
    std::size_t chunkCount_ = 0;
    // The classes of the chunk's bytes, for the filter.
    std::vector<std::uint8_t> classes_ = std::vector<std::uint8_t>(chunkSize + classLookAhead);
};

// An offset without acceptance decides by the bytes from it up to its `decisionExtent`. Where
// the bytes repeat with `repeatPeriod`, it decides as the offset a period before it: behind a
// period of offsets that all failed, every offset fails until its extent reaches the end of the
// repetition. `here` is the chunk's view of `at`, with a period before it. The first offset
// from `at` on that is not settled so.
std::uint64_t Scanner::pastRepetition(const std::uint8_t *here, std::uint64_t at) {
    std::uint64_t extent = 0;
    for (std::size_t back = 1; back <= repeatPeriod; ++back)
        extent = std::max(extent, decisionExtent(here - back));
    const std::uint64_t end = repetitionEnd(at);
    repetitionKnownEnd_ = end;
    return end >= at + extent ? end - extent + 1 : at;
}

// The first offset from `at` on whose byte differs from the one a period before it.
std::uint64_t Scanner::repetitionEnd(std::uint64_t at) {
    constexpr std::size_t piece = 256u << 10;
    constexpr std::size_t block = 4096;
    const std::uint64_t fileSize = reader_.fileSize();
    for (std::uint64_t j = at; j < fileSize;) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(piece, fileSize - j));
        const std::uint8_t *before = reader_.view(j - repeatPeriod, length + repeatPeriod);
        const std::uint8_t *bytes = before + repeatPeriod;
        std::size_t same = 0;
        while (same < length) {
            const std::size_t step = std::min(block, length - same);
            if (std::memcmp(bytes + same, before + same, step) != 0) {
                same = static_cast<std::size_t>(
                    std::mismatch(bytes + same, bytes + same + step, before + same).first - bytes);
                return j + same;
            }
            same += step;
        }
        j += length;
    }
    return fileSize;
}

Walk Scanner::descriptorWalk(const std::uint8_t *first, std::uint64_t start, std::int32_t limit) {
    Walk walk;
    if (descriptorsInPlace(first, limit, walk))
        return walk;
    std::uint64_t end = start + descriptorStride * static_cast<std::uint64_t>(limit);
    descriptors_.reach(reader_, start, end + 1 + reachSlack, DescriptorBlocks{});
    walkHeld(start, limit, walk);
    return walk;
}

Walk Scanner::level7Walk(const std::uint8_t *first, std::uint64_t start, std::uint32_t maximum) {
    std::uint32_t target = std::min<std::uint32_t>(maximum, level7ReadLimit);
    if (target > 0 && level7_.holds(start, start + level7DescriptorSize * target))
        return level7FromFacts(start, target);
    Walk walk;
    if (level7InPlace(first, maximum, walk))
        return walk;
    return level7FromFacts(start, target);
}

Walk Scanner::level7FromFacts(std::uint64_t start, std::uint32_t target) {
    auto blocksEnd = [start](std::uint64_t n) { return start + level7DescriptorSize * n; };
    // Over the first n blocks: the blocks collected, the names marked, the lengths added.
    auto collected = [&](std::uint64_t n) {
        return collectedOf(level7_.sum(level7Tally, start, blocksEnd(n)));
    };
    auto marked = [&](std::uint64_t n) {
        return markedOf(level7_.sum(level7Tally, start, blocksEnd(n)));
    };
    auto lengths = [&](std::uint64_t n) { return level7_.sum(level7Length, start, blocksEnd(n)); };
    reachLevel7(start, blocksEnd(target) + 1);
    std::uint64_t stop = level7_.nextStop(start);
    std::uint64_t consumed = 0;
    std::uint32_t converted = 0;
    if (stop == level7_.none && collected(target) == target) {
        consumed = target;
        converted = target;
    } else {
        if (stop == level7_.none) {
            reachLevel7(start, blocksEnd(level7ReadLimit) + 1);
            stop = level7_.nextStop(start);
        }
        std::uint64_t readable =
            stop == level7_.none ? level7ReadLimit
                                 : std::min((stop - start) / level7DescriptorSize, level7ReadLimit);
        std::uint32_t reached = collected(readable);
        if (reached < target) {
            if (readable < level7ReadLimit && !level7_.isTerminator(stop))
                return Walk{};
            consumed = readable;
            converted = reached;
        } else {
            std::uint64_t low = target, high = readable;
            while (low < high) {
                std::uint64_t middle = (low + high) / 2;
                if (collected(middle) >= target)
                    high = middle;
                else
                    low = middle + 1;
            }
            consumed = low;
            converted = target;
        }
    }
    Walk walk;
    if (marked(consumed) == 0) {
        walk.fieldCount = static_cast<std::int32_t>(converted);
        walk.lengthSum = lengths(consumed);
        return walk;
    }
    std::uint64_t low = 1, high = consumed;
    while (low < high) {
        std::uint64_t middle = (low + high) / 2;
        if (marked(middle) >= 1)
            high = middle;
        else
            low = middle + 1;
    }
    walk.fieldCount = static_cast<std::int32_t>(collected(low - 1));
    walk.lengthSum = lengths(low - 1);
    return walk;
}

// Offsets that walk, one after the other, are settled sixty-four at a time (see
// `planWalks`), with every block their walks cover classified first. The first offset from
// `i` on that is not settled so, or `count`; where few offsets of a plan walk, the filter
// takes over again after it.
Scanner::Settled Scanner::settleWalks(const std::uint8_t *chunk, std::uint64_t chunkStart,
                                      std::size_t i, std::size_t count) {
    WalkPlan &plan = plan_;
    bool movedAny = false;
    while (i < count) {
        const std::size_t offsets = std::min(count - i, walkPlanOffsets);
        const std::uint64_t planStart = chunkStart + i;
        // Bytes that repeat those a plan before make the same plan.
        const bool repeats =
            repeatableAt_ == planStart && offsets == walkPlanOffsets &&
            i + chunkLead_ >= walkPlanOffsets &&
            std::memcmp(chunk + i, chunk + i - walkPlanOffsets, walkPlanBytes) == 0;
        if (!repeats)
            planWalks(chunk + i, classes_.data() + i, offsets, plan);
        repeatableAt_ = offsets == walkPlanOffsets ? planStart + walkPlanOffsets : 0;
        const std::uint64_t lastOffset = planStart + offsets - 1;
        bool moved = false;
        if (plan.descriptorWalks != 0)
            moved |=
                reachUnlessHeld(descriptors_, planStart + tableHeaderSize,
                                lastOffset + tableHeaderSize + descriptorStride * fieldCountLimit,
                                planReachSlack, DescriptorBlocks{});
        if (plan.level7Walks != 0)
            moved |= reachUnlessHeld(level7_, planStart + level7HeaderSize,
                                     lastOffset + level7HeaderSize +
                                         level7DescriptorSize * plan.longestLevel7,
                                     planReachSlack, Level7Blocks{});
        if (moved) {
            chunk = viewChunk();
            movedAny = true;
        }
        std::uint64_t mayCount = plan.unsettled;
        if (plan.descriptorWalks != 0)
            mayCount |=
                descriptorWalksThatMayCount(plan, descriptors_.ring(), planStart + tableHeaderSize);
        if (plan.level7Walks != 0)
            mayCount |= level7WalksThatMayCount(plan, level7_.ring(), planStart + level7HeaderSize);
        if (mayCount != 0)
            return {i + static_cast<std::size_t>(std::countr_zero(mayCount)), movedAny};
        i += offsets;
        if (static_cast<std::size_t>(std::popcount(plan.descriptorWalks | plan.level7Walks)) <
            offsets / 8) {
            batched_ = false;
            return {i, movedAny};
        }
    }
    return {count, movedAny};
}

std::optional<HeaderScanHit> Scanner::run(std::uint64_t from, bool acceptance) {
    const std::uint64_t fileSize = reader_.fileSize();
    // Every offset from here on, up to the one being looked at, failed without acceptance.
    std::uint64_t failingSince = from;
    std::uint64_t next = from;
    for (std::uint64_t chunkStart = from; chunkStart < fileSize; chunkStart = next) {
        next = chunkStart + chunkSize;
        const auto count = static_cast<std::size_t>(std::min(chunkSize, fileSize - chunkStart));
        // A period's bytes before the chunk come with it, for the repetition test.
        const std::size_t lead = static_cast<std::size_t>(std::min(chunkStart, repeatPeriod));
        chunkViewStart_ = chunkStart - lead;
        chunkViewLength_ = lead + count + chunkMargin;
        chunkLead_ = lead;
        chunkCount_ = count;
        const std::uint8_t *chunk = viewChunk();
        classifyForScan(chunk, count + classLookAhead, classes_.data());
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t *header = chunk + i;
            if (!acceptance) {
                const std::uint64_t at = chunkStart + i;
                if (at >= failingSince + repeatPeriod && at > repetitionKnownEnd_ &&
                    header[0] == *(header - repeatPeriod)) {
                    const std::uint64_t resume = pastRepetition(header, at);
                    chunk = viewChunk();
                    if (resume > at) {
                        next = resume;
                        break;
                    }
                }
                // Now and then the repetition is looked for again, even when nothing counts.
                const std::size_t stretchEnd = std::min(count, i + repeatCheckInterval);
                i = firstThatMayCount(chunk, chunkStart, i, stretchEnd, fileSize);
                chunk = viewChunk();
                if (i == count)
                    break;
                if (i == stretchEnd) {
                    --i;
                    continue;
                }
                const bool counts = lengthsMayAgree(chunk + i, chunkStart + i, fileSize);
                chunk = viewChunk();
                if (!counts)
                    continue;
                header = chunk + i;
            }
            failingSince = chunkStart + i + 1;
            const std::uint32_t headerLength = readLe16(header + 8);
            const std::uint32_t recordLength = readLe16(header + 10);
            // Too short to hold a descriptor, longer than the file, or records of a flag alone.
            if (recordLength < 2 || headerLength < 2 * tableHeaderSize || headerLength > fileSize) {
                acceptance = false;
                continue;
            }
            const std::uint8_t type = header[0];
            std::int32_t fieldCount =
                isVisualFoxProType(type)
                    ? (static_cast<std::int32_t>(headerLength) - 296) / 32
                    : static_cast<std::int32_t>((headerLength - tableHeaderSize) / 32u);
            bool clears = fieldCount >= fieldCountLimit;
            // Most offsets stop at their first block. Those are settled here without a branch
            // that random bytes would mispredict; the rest walk.
            const bool level7 = isLevel7Type(type);
            const bool walks =
                !level7 & (static_cast<std::uint32_t>(fieldCount - 1) < fieldCountLimit);
            const std::uint8_t *first = header + tableHeaderSize;
            const bool firstEnds = (first[0] == headerTerminator) | (first[0] == endOfFileMarker);
            const bool firstMayPass = acceptedTypeLetters[first[11]] | (first[0] == '_');
            const std::uint8_t *block = header + level7HeaderSize;
            const bool blockMayPass = (block[0] != headerTerminator) &
                                      (acceptedTypeLetters[block[32]] | (block[0] == '_'));
            Walk walk;
            walk.fieldCount = (level7 | (walks & firstEnds)) ? 0 : fieldCount;
            clears |= walks & !firstEnds & !firstMayPass;
            if ((level7 & blockMayPass) | (walks & !firstEnds & firstMayPass)) [[unlikely]] {
                if (level7) {
                    walkLevel7(block, chunkStart + i + level7HeaderSize,
                               (headerLength - static_cast<std::uint32_t>(level7HeaderSize)) /
                                   static_cast<std::uint32_t>(level7DescriptorSize),
                               walk);
                    chunk = viewChunk();
                } else {
                    std::uint64_t start = chunkStart + i + tableHeaderSize;
                    walk.fieldCount = fieldCount;
                    if (!walkHeld(start, fieldCount, walk)) {
                        walkDescriptors(first, start, fieldCount, walk);
                        chunk = viewChunk();
                    }
                    clears |= walk.unacceptable;
                }
            }
            const bool lengthsAgree = recordLength == 1 + walk.lengthSum;
            const bool before = acceptance;
            if (lengthsAgree && walk.fieldCount < fieldCountLimit)
                acceptance = true;
            else if (clears)
                acceptance = false;
            if (acceptance && lengthsAgree && walk.fieldCount >= 1 &&
                sampleFlags(sampler_, chunkStart + i + headerLength, recordLength).passes())
                return HeaderScanHit{chunkStart + i, before};
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<HeaderScanHit> scanForHeader(WindowReader &reader, WindowReader &sampler,
                                           std::uint64_t from, bool acceptance) {
    Scanner scanner(reader, sampler);
    return scanner.run(from, acceptance);
}

} // namespace salvora
