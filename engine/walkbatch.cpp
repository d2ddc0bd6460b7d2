#include "engine/walkbatch.h"

#include <algorithm>
#include <bit>

#include "engine/lanes16.h"
#include "engine/scanclasses.h"
#include "engine/tableformat.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define SALVORA_WALK_BATCHES 1
#endif

namespace salvora {

#if SALVORA_WALK_BATCHES

namespace {

#define SALVORA_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline
#define SALVORA_AVX2_LAMBDA __attribute__((target("avx2"), always_inline))

using namespace lanes16;

SALVORA_AVX2 __m256i bytes32(const std::uint8_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

SALVORA_AVX2 __m256i load8x32(const std::uint32_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
SALVORA_AVX2 __m256i wide8(const std::uint16_t *p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}
SALVORA_AVX2 __m256i words16(const std::uint16_t *p) {
    return _mm256_load_si256(reinterpret_cast<const __m256i *>(p));
}
// Distances to the next stops without the flag of a terminator ahead.
SALVORA_AVX2 __m256i withoutFlag(__m256i toStop) {
    return _mm256_and_si256(
        toStop, _mm256_set1_epi32(static_cast<int>(~StrideFacts<32, 1>::terminatorAhead)));
}
SALVORA_AVX2 __m256i gather(const std::uint32_t *base, __m256i slots) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int *>(base), slots, 4);
}
SALVORA_AVX2 std::uint64_t bits32(__m256i mask) {
    return static_cast<std::uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(mask)));
}
// The slots of eight positions in a row from `slot`, each moved on by its `distance`.
SALVORA_AVX2 __m256i slotsAfter(std::size_t slot, __m256i distance, std::size_t mask) {
    const __m256i first = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(slot)),
                                           _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    return _mm256_and_si256(_mm256_add_epi32(first, distance),
                            _mm256_set1_epi32(static_cast<int>(mask)));
}

// Where eight walks in a row from `slot` end, `reach` after their starts. Where they all
// reach as far (a run of alike headers with no stop ahead), their ends are in a row too.
struct WalkEnds {
    __m256i slots;
    std::size_t first; // the first of eight slots in a row, or `none`
    static constexpr std::size_t none = ~std::size_t{0};
};
SALVORA_AVX2 WalkEnds walkEnds(std::size_t slot, __m256i reach, std::size_t mask) {
    WalkEnds ends{slotsAfter(slot, reach, mask), WalkEnds::none};
    const __m256i same =
        _mm256_cmpeq_epi32(reach, _mm256_permutevar8x32_epi32(reach, _mm256_setzero_si256()));
    if (_mm256_movemask_epi8(same) == -1) {
        const std::size_t end = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(ends.slots));
        if (end + 8 <= mask + 1)
            ends.first = end;
    }
    return ends;
}
SALVORA_AVX2 __m256i sumsAt(const std::uint32_t *prefix, const WalkEnds &ends) {
    return ends.first != WalkEnds::none ? load8x32(prefix + ends.first)
                                        : gather(prefix, ends.slots);
}

// What sixteen offsets in a row ask. Only what decides is exact: a walk the one-offset search
// would not take for another reason (a header longer than the file, a first block that stops
// it) is taken all the same, and adds up no more than the lengths it meets; its record length
// is then one that cannot agree, or it is left to that search.
struct SixteenPlans {
    __m256i descriptorWalks;
    __m256i level7Walks;
    __m256i unsettled;
};
// Where no offset of a plan has a level 7 type (`Level7s`), or every one has (`!Others`), what
// only the others ask is not worked out.
template <bool Level7s, bool Others>
SALVORA_AVX2 SixteenPlans planSixteen(const std::uint8_t *p, const std::uint8_t *c,
                                      std::uint16_t *recordLengths, std::uint16_t *blocks,
                                      __m256i &longest) {
    const __m256i letter = _mm256_set1_epi16(letterClass);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i type = wide(p);
    const __m256i headerLength = wideWord(p + 8);
    const __m256i recordLength = wideWord(p + 10);
    const __m256i level7 = is16(_mm256_and_si256(type, _mm256_set1_epi16(7)), 4);
    SixteenPlans plans{zero, zero, is16(recordLength, 1)};
    __m256i fieldCount = zero;
    if constexpr (Others) {
        fieldCount = descriptorCount16(type, headerLength);
        // 1 to 500 descriptors and a record of some length: anything else fails before it
        // walks.
        const __m256i fieldCountBelow = _mm256_sub_epi16(fieldCount, _mm256_set1_epi16(1));
        const __m256i mayWalk = _mm256_andnot_si256(
            is16(recordLength, 0),
            _mm256_cmpeq_epi16(
                _mm256_min_epu16(fieldCountBelow, _mm256_set1_epi16(fieldCountLimit - 1)),
                fieldCountBelow));
        const __m256i firstMayPass = _mm256_or_si256(
            not256(is16(_mm256_and_si256(wide(c + tableHeaderSize + 11), letter), 0)),
            is16(wide(p + tableHeaderSize), '_'));
        plans.descriptorWalks =
            _mm256_andnot_si256(level7, _mm256_and_si256(mayWalk, firstMayPass));
    }
    __m256i target = zero;
    if constexpr (Level7s) {
        target = level7Count16(headerLength);
        // Below 64 bytes no header can be; from 64 to 67 the count wraps around, and up to 115
        // a walk collects nothing: both are taken in place.
        const __m256i afterShortest = _mm256_sub_epi16(headerLength, _mm256_set1_epi16(64));
        const __m256i inPlace = _mm256_cmpeq_epi16(
            _mm256_min_epu16(afterShortest, _mm256_set1_epi16(115 - 64)), afterShortest);
        const __m256i level7MayWalk = _mm256_andnot_si256(
            _mm256_or_si256(
                is16(recordLength, 0),
                not256(_mm256_cmpeq_epi16(_mm256_max_epu16(headerLength, _mm256_set1_epi16(64)),
                                          headerLength))),
            level7);
        const __m256i blockMayPass = _mm256_or_si256(
            not256(is16(_mm256_and_si256(wide(c + level7HeaderSize + 32), letter), 0)),
            is16(wide(p + level7HeaderSize), '_'));
        plans.level7Walks = _mm256_and_si256(level7MayWalk, blockMayPass);
        plans.unsettled =
            _mm256_or_si256(plans.unsettled, _mm256_and_si256(plans.level7Walks, inPlace));
        longest = _mm256_max_epu16(longest, _mm256_and_si256(plans.level7Walks, target));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(recordLengths), recordLength);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(blocks),
                        _mm256_blendv_epi8(fieldCount, target, level7));
    return plans;
}

template <bool Level7s, bool Others>
SALVORA_AVX2 void planThirtyTwo(const std::uint8_t *headers, const std::uint8_t *classes,
                                std::size_t half, WalkPlan &plan, __m256i &longest) {
    const SixteenPlans low = planSixteen<Level7s, Others>(headers + half, classes + half,
                                                          plan.recordLength.data() + half,
                                                          plan.blocks.data() + half, longest);
    const SixteenPlans high = planSixteen<Level7s, Others>(headers + half + 16, classes + half + 16,
                                                           plan.recordLength.data() + half + 16,
                                                           plan.blocks.data() + half + 16, longest);
    plan.descriptorWalks |= std::uint64_t{bits32of16(low.descriptorWalks, high.descriptorWalks)}
                            << half;
    plan.level7Walks |= std::uint64_t{bits32of16(low.level7Walks, high.level7Walks)} << half;
    plan.unsettled |= std::uint64_t{bits32of16(low.unsettled, high.unsettled)} << half;
}

} // namespace

[[gnu::target("avx2")]] void planWalks(const std::uint8_t *headers, const std::uint8_t *classes,
                                       std::size_t count, WalkPlan &plan) {
    __m256i longest = _mm256_setzero_si256();
    plan.descriptorWalks = plan.level7Walks = plan.unsettled = 0;
    const __m256i seven = _mm256_set1_epi8(7);
    const __m256i four = _mm256_set1_epi8(4);
    std::uint64_t level7Types = 0;
    for (std::size_t half = 0; half < walkPlanOffsets; half += 32)
        level7Types |=
            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(
                _mm256_cmpeq_epi8(_mm256_and_si256(bytes32(headers + half), seven), four)))}
            << half;
    const std::uint64_t counted =
        count >= walkPlanOffsets ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    level7Types &= counted;
    for (std::size_t half = 0; half < walkPlanOffsets; half += 32) {
        if (level7Types == 0)
            planThirtyTwo<false, true>(headers, classes, half, plan, longest);
        else if (level7Types == counted)
            planThirtyTwo<true, false>(headers, classes, half, plan, longest);
        else
            planThirtyTwo<true, true>(headers, classes, half, plan, longest);
    }
    plan.descriptorWalks &= counted;
    plan.level7Walks &= counted;
    plan.unsettled &= counted;
    plan.alike = false;
    if (count == walkPlanOffsets && plan.unsettled == 0 &&
        (plan.descriptorWalks == ~std::uint64_t{0} || plan.level7Walks == ~std::uint64_t{0})) {
        const __m256i recordLength = _mm256_set1_epi16(static_cast<short>(plan.recordLength[0]));
        const __m256i blocks = _mm256_set1_epi16(static_cast<short>(plan.blocks[0]));
        __m256i same = _mm256_set1_epi32(-1);
        for (std::size_t at = 0; at < walkPlanOffsets; at += 16) {
            same = _mm256_and_si256(
                same, _mm256_and_si256(
                          _mm256_cmpeq_epi16(words16(plan.recordLength.data() + at), recordLength),
                          _mm256_cmpeq_epi16(words16(plan.blocks.data() + at), blocks)));
        }
        plan.alike = _mm256_movemask_epi8(same) == -1;
    }
    const __m128i folded =
        _mm_max_epu16(_mm256_castsi256_si128(longest), _mm256_extracti128_si256(longest, 1));
    // The largest of eight: the smallest of their complements, which the processor finds.
    plan.longestLevel7 = static_cast<std::uint16_t>(
        ~_mm_cvtsi128_si32(_mm_minpos_epu16(_mm_xor_si128(folded, _mm_set1_epi16(-1)))));
}

namespace {

// The walks of a plan whose offsets are `alike` (see `WalkPlan`), eight at a time where the
// ring does not turn over before they end: `settle` is given the first start and end of eight
// walks whose ends lie in a row. A group where a walk meets a stop is left to the general
// kernel, unless `BadStopsSettle` (a level 7 walk that stops at a bad block collects nothing,
// and no record length of 1 is in such a plan) and none of its stops is a terminator. The
// groups left, a bit each, and what the others may count.
struct AlikeGroups {
    std::uint64_t left;
    std::uint64_t mayCount;
};
template <bool BadStopsSettle, typename Settle>
SALVORA_AVX2 AlikeGroups alikeGroups(const std::uint32_t *distance, std::size_t first,
                                     std::size_t mask, std::uint32_t walkLength, Settle settle) {
    AlikeGroups result{0xFF, 0};
    if (first + walkPlanOffsets + walkLength > mask + 1)
        return result;
    result.left = 0;
    const __m256i length = _mm256_set1_epi32(static_cast<int>(walkLength));
    for (std::size_t group = 0; group < walkPlanOffsets / 8; ++group) {
        const std::size_t slot = first + 8 * group;
        const __m256i toStop = load8x32(distance + slot);
        const __m256i stopInside = _mm256_cmpgt_epi32(length, withoutFlag(toStop));
        const std::uint64_t stopped = bits32(stopInside);
        if (stopped != 0 &&
            (!BadStopsSettle || bits32(_mm256_and_si256(stopInside, toStop)) != 0)) {
            result.left |= std::uint64_t{1} << group;
            continue;
        }
        result.mayCount |= (settle(slot, slot + walkLength) & ~stopped) << (8 * group);
    }
    return result;
}

} // namespace

[[gnu::target("avx2")]] std::uint64_t
descriptorWalksThatMayCount(const WalkPlan &plan, const StrideFacts<32, 1>::Ring &ring,
                            std::uint64_t firstStart) {
    const std::uint32_t *const prefix = ring.prefix[0];
    const std::size_t mask = ring.mask;
    std::uint64_t mayCount = 0;
    std::uint64_t groups = 0xFF;
    if (plan.alike && plan.descriptorWalks == ~std::uint64_t{0}) {
        const __m256i lengthBefore = _mm256_set1_epi32(plan.recordLength[0] - 1);
        const AlikeGroups alike =
            alikeGroups<false>(ring.distance, static_cast<std::size_t>(firstStart) & mask, mask,
                               std::uint32_t{plan.blocks[0]} * 32,
                               [&](std::size_t slot, std::size_t end) SALVORA_AVX2_LAMBDA {
                                   const __m256i sum = _mm256_sub_epi32(load8x32(prefix + end),
                                                                        load8x32(prefix + slot));
                                   return bits32(_mm256_cmpeq_epi32(sum, lengthBefore));
                               });
        groups = alike.left;
        mayCount = alike.mayCount;
    }
    for (std::size_t group = 0; group < walkPlanOffsets / 8; ++group) {
        const std::uint64_t walks = (plan.descriptorWalks >> (8 * group)) & 0xFF;
        if (walks == 0 || (groups >> group & 1) == 0)
            continue;
        const std::uint64_t start = firstStart + 8 * group;
        const std::size_t slot = static_cast<std::size_t>(start) & mask;
        const __m256i recordLength = wide8(plan.recordLength.data() + 8 * group);
        const __m256i walkLength = _mm256_slli_epi32(wide8(plan.blocks.data() + 8 * group), 5);
        if (slot + 8 > mask + 1) {
            // Where the ring turns over: left to the one-offset search.
            mayCount |= walks << (8 * group);
            continue;
        }
        const __m256i reach =
            _mm256_min_epu32(withoutFlag(load8x32(ring.distance + slot)), walkLength);
        const __m256i sum =
            _mm256_sub_epi32(sumsAt(prefix, walkEnds(slot, reach, mask)), load8x32(prefix + slot));
        const std::uint64_t agree =
            bits32(_mm256_cmpeq_epi32(recordLength, _mm256_add_epi32(sum, _mm256_set1_epi32(1))));
        mayCount |= (agree & walks) << (8 * group);
    }
    return mayCount;
}

[[gnu::target("avx2")]] std::uint64_t level7WalksThatMayCount(const WalkPlan &plan,
                                                              const StrideFacts<48, 2>::Ring &ring,
                                                              std::uint64_t firstStart) {
    const std::uint32_t *const lengths = ring.prefix[level7Length];
    const std::uint32_t *const tallies = ring.prefix[level7Tally];
    const std::size_t mask = ring.mask;
    std::uint64_t mayCount = 0;
    std::uint64_t groups = 0xFF;
    if (plan.alike && plan.level7Walks == ~std::uint64_t{0}) {
        // With no stop inside, a walk settles where it collects every block and meets no
        // marked name: its tally is then its target.
        const __m256i lengthBefore = _mm256_set1_epi32(plan.recordLength[0] - 1);
        const __m256i target = _mm256_set1_epi32(plan.blocks[0]);
        const AlikeGroups alike = alikeGroups<true>(
            ring.distance, static_cast<std::size_t>(firstStart) & mask, mask,
            std::uint32_t{plan.blocks[0]} * 48,
            [&](std::size_t slot, std::size_t end) SALVORA_AVX2_LAMBDA {
                const __m256i tally =
                    _mm256_sub_epi32(load8x32(tallies + end), load8x32(tallies + slot));
                const __m256i length =
                    _mm256_sub_epi32(load8x32(lengths + end), load8x32(lengths + slot));
                return bits32(_mm256_or_si256(not256(_mm256_cmpeq_epi32(tally, target)),
                                              _mm256_cmpeq_epi32(length, lengthBefore)));
            });
        groups = alike.left;
        mayCount = alike.mayCount;
    }
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i zero = _mm256_setzero_si256();
    for (std::size_t group = 0; group < walkPlanOffsets / 8; ++group) {
        const std::uint64_t walks = (plan.level7Walks >> (8 * group)) & 0xFF;
        if (walks == 0 || (groups >> group & 1) == 0)
            continue;
        const std::uint64_t start = firstStart + 8 * group;
        const std::size_t slot = static_cast<std::size_t>(start) & mask;
        if (slot + 8 > mask + 1) {
            // Where the ring turns over: left to the one-offset search.
            mayCount |= walks << (8 * group);
            continue;
        }
        const __m256i recordLength = wide8(plan.recordLength.data() + 8 * group);
        const __m256i target = wide8(plan.blocks.data() + 8 * group);
        const __m256i walkLength =
            _mm256_add_epi32(_mm256_slli_epi32(target, 5), _mm256_slli_epi32(target, 4));
        const __m256i toStop = load8x32(ring.distance + slot);
        const __m256i distance = withoutFlag(toStop);
        const __m256i stopInside = _mm256_cmpgt_epi32(walkLength, distance);
        const __m256i reach = _mm256_min_epu32(distance, walkLength);
        const WalkEnds ends = walkEnds(slot, reach, mask);
        const __m256i length = _mm256_sub_epi32(sumsAt(lengths, ends), load8x32(lengths + slot));
        const __m256i tally = _mm256_sub_epi32(sumsAt(tallies, ends), load8x32(tallies + slot));
        const __m256i collected =
            _mm256_and_si256(tally, _mm256_set1_epi32(static_cast<int>(level7MarkedUnit - 1)));
        const __m256i marked = _mm256_srli_epi32(tally, 16);
        const __m256i notTerminator = _mm256_cmpgt_epi32(toStop, _mm256_set1_epi32(-1));
        const __m256i noneMarked = _mm256_cmpeq_epi32(marked, zero);
        // A stop inside the walk: a bad block leaves nothing collected, a terminator what was
        // collected before it. Past the walk's end: every block must have been collected.
        // Either way, a marked name makes the one-offset search look closer.
        const __m256i settles =
            _mm256_blendv_epi8(_mm256_and_si256(_mm256_cmpeq_epi32(collected, target), noneMarked),
                               _mm256_or_si256(notTerminator, noneMarked), stopInside);
        const __m256i lengthSum =
            _mm256_andnot_si256(_mm256_and_si256(stopInside, notTerminator), length);
        const __m256i agree = _mm256_cmpeq_epi32(recordLength, _mm256_add_epi32(lengthSum, one));
        mayCount |= (bits32(_mm256_or_si256(not256(settles), agree)) & walks) << (8 * group);
    }
    return mayCount;
}

#else

// Never asked: without the vectors there are no plans.
void planWalks(const std::uint8_t *, const std::uint8_t *, std::size_t, WalkPlan &) {}
std::uint64_t descriptorWalksThatMayCount(const WalkPlan &, const StrideFacts<32, 1>::Ring &,
                                          std::uint64_t) {
    return ~std::uint64_t{0};
}
std::uint64_t level7WalksThatMayCount(const WalkPlan &, const StrideFacts<48, 2>::Ring &,
                                      std::uint64_t) {
    return ~std::uint64_t{0};
}

#endif

} // namespace salvora
