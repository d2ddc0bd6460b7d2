#include "engine/walkbatch.h"

#include <algorithm>

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

// Sixteen bytes as sixteen 16-bit lanes.
SALVORA_AVX2 __m256i wide(const std::uint8_t *p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}
SALVORA_AVX2 __m256i wideWord(const std::uint8_t *p) {
    return _mm256_or_si256(wide(p), _mm256_slli_epi16(wide(p + 1), 8));
}
SALVORA_AVX2 __m256i is16(__m256i lanes, int value) {
    return _mm256_cmpeq_epi16(lanes, _mm256_set1_epi16(static_cast<short>(value)));
}
SALVORA_AVX2 __m256i atLeast16(__m256i lanes, int value) {
    return _mm256_cmpeq_epi16(_mm256_max_epu16(lanes, _mm256_set1_epi16(static_cast<short>(value))),
                              lanes);
}
SALVORA_AVX2 __m256i not256(__m256i lanes) {
    return _mm256_xor_si256(lanes, _mm256_set1_epi32(-1));
}
// Sixteen 16-bit lane masks as sixteen bits.
SALVORA_AVX2 std::uint64_t bits16(__m256i mask) {
    const auto bytes =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(mask, mask)));
    return (bytes & 0xFF) | ((bytes >> 8) & 0xFF00);
}

SALVORA_AVX2 __m256i load8x32(const std::uint32_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
SALVORA_AVX2 __m256i wide8(const std::uint16_t *p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
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

// The running sums where eight walks in a row from `slot` end, `reach` after their starts.
// Where they all reach as far (a run of alike headers with no stop ahead), their ends are in
// a row too.
SALVORA_AVX2 __m256i sumsAt(const std::uint32_t *prefix, std::size_t slot, __m256i reach,
                            std::size_t mask) {
    const __m256i same =
        _mm256_cmpeq_epi32(reach, _mm256_permutevar8x32_epi32(reach, _mm256_setzero_si256()));
    if (_mm256_movemask_epi8(same) == -1) {
        const std::size_t end =
            (slot + static_cast<std::uint32_t>(_mm256_cvtsi256_si32(reach))) & mask;
        if (end + 8 <= mask + 1)
            return load8x32(prefix + end);
    }
    return gather(prefix, slotsAfter(slot, reach, mask));
}

} // namespace

bool walkBatchesAvailable() {
    static const bool available = __builtin_cpu_supports("avx2");
    return available;
}

[[gnu::target("avx2")]] void planWalks(const std::uint8_t *headers, const std::uint8_t *classes,
                                       std::size_t count, std::uint64_t fileSize, WalkPlan &plan) {
    const int largest = static_cast<int>(std::min<std::uint64_t>(fileSize, 0xFFFF));
    const __m256i letter = _mm256_set1_epi16(letterClass);
    const __m256i zero = _mm256_setzero_si256();
    plan = WalkPlan{};
    __m256i longest = zero;
    for (std::size_t group = 0; group < walkPlanOffsets / 16; ++group) {
        const std::uint8_t *p = headers + 16 * group;
        const std::uint8_t *c = classes + 16 * group;
        const __m256i type = wide(p);
        const __m256i headerLength = wideWord(p + 8);
        const __m256i recordLength = wideWord(p + 10);
        const __m256i level7 = is16(_mm256_and_si256(type, _mm256_set1_epi16(7)), 4);
        const __m256i visualFoxPro =
            _mm256_or_si256(is16(type, 0x30), _mm256_or_si256(is16(type, 0x31), is16(type, 0x32)));
        const __m256i plausible = _mm256_andnot_si256(
            is16(recordLength, 0),
            _mm256_and_si256(
                atLeast16(headerLength, 2 * tableHeaderSize),
                _mm256_cmpeq_epi16(
                    _mm256_min_epu16(headerLength, _mm256_set1_epi16(static_cast<short>(largest))),
                    headerLength)));
        // 1 to 500 descriptors: 32 to 16,031 bytes past the table header, or past the 296 bytes
        // of a Visual FoxPro one.
        const __m256i fieldCountFits = _mm256_blendv_epi8(
            not256(atLeast16(headerLength, 32 + 32 * (fieldCountLimit + 1))),
            _mm256_andnot_si256(atLeast16(headerLength, 296 + 32 * (fieldCountLimit + 1)),
                                atLeast16(headerLength, 296 + 32)),
            visualFoxPro);
        const __m256i fieldCount = _mm256_blendv_epi8(
            _mm256_srli_epi16(_mm256_sub_epi16(headerLength, _mm256_set1_epi16(32)), 5),
            _mm256_srli_epi16(_mm256_sub_epi16(headerLength, _mm256_set1_epi16(296)), 5),
            visualFoxPro);
        const __m256i firstByte = wide(p + tableHeaderSize);
        const __m256i firstMayPass = _mm256_andnot_si256(
            _mm256_or_si256(is16(firstByte, headerTerminator), is16(firstByte, endOfFileMarker)),
            _mm256_or_si256(
                not256(is16(_mm256_and_si256(wide(c + tableHeaderSize + 11), letter), 0)),
                is16(firstByte, '_')));
        const __m256i descriptorWalk = _mm256_and_si256(
            _mm256_andnot_si256(level7, plausible), _mm256_and_si256(fieldCountFits, firstMayPass));
        const __m256i blockByte = wide(p + level7HeaderSize);
        const __m256i blockMayPass = _mm256_andnot_si256(
            is16(blockByte, headerTerminator),
            _mm256_or_si256(
                not256(is16(_mm256_and_si256(wide(c + level7HeaderSize + 32), letter), 0)),
                is16(blockByte, '_')));
        const __m256i level7Walk =
            _mm256_and_si256(_mm256_and_si256(level7, plausible), blockMayPass);
        // (length - 68) / 48 as ((length - 68) / 16) / 3, the last by multiplying.
        const __m256i target = _mm256_srli_epi16(
            _mm256_mulhi_epu16(
                _mm256_srli_epi16(_mm256_sub_epi16(headerLength, _mm256_set1_epi16(68)), 4),
                _mm256_set1_epi16(static_cast<short>(0xAAAB))),
            1);
        // Below 68 bytes the count wraps around; a walk that collects nothing is taken in place.
        const __m256i odd = _mm256_and_si256(
            level7Walk,
            _mm256_or_si256(not256(atLeast16(headerLength, level7HeaderSize)), is16(target, 0)));
        const __m256i unsettled = _mm256_or_si256(is16(recordLength, 1), odd);
        longest = _mm256_max_epu16(longest, _mm256_and_si256(level7Walk, target));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(plan.recordLength.data() + 16 * group),
                            recordLength);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(plan.blocks.data() + 16 * group),
                            _mm256_blendv_epi8(fieldCount, target, level7));
        plan.descriptorWalks |= bits16(descriptorWalk) << (16 * group);
        plan.level7Walks |= bits16(level7Walk) << (16 * group);
        plan.unsettled |= bits16(unsettled) << (16 * group);
    }
    const std::uint64_t counted = count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
    plan.descriptorWalks &= counted;
    plan.level7Walks &= counted;
    plan.unsettled &= counted;
    alignas(32) std::array<std::uint16_t, 16> lanes;
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes.data()), longest);
    plan.longestLevel7 = *std::max_element(lanes.begin(), lanes.end());
}

[[gnu::target("avx2")]] std::uint64_t
descriptorWalksThatMayCount(const WalkPlan &plan, const StrideFacts<32, 1>::Ring &ring,
                            std::uint64_t firstStart) {
    std::uint64_t mayCount = 0;
    for (std::size_t group = 0; group < walkPlanOffsets / 8; ++group) {
        const std::uint64_t walks = (plan.descriptorWalks >> (8 * group)) & 0xFF;
        if (walks == 0)
            continue;
        const std::uint64_t start = firstStart + 8 * group;
        const std::size_t slot = static_cast<std::size_t>(start) & ring.mask;
        const __m256i recordLength = wide8(plan.recordLength.data() + 8 * group);
        const __m256i walkLength = _mm256_slli_epi32(wide8(plan.blocks.data() + 8 * group), 5);
        std::uint64_t agree = 0;
        if (slot + 8 <= ring.mask + 1) {
            const __m256i reach = _mm256_min_epu32(load8x32(ring.distance + slot), walkLength);
            const __m256i sum = _mm256_sub_epi32(sumsAt(ring.prefix[0], slot, reach, ring.mask),
                                                 load8x32(ring.prefix[0] + slot));
            agree = bits32(
                _mm256_cmpeq_epi32(recordLength, _mm256_add_epi32(sum, _mm256_set1_epi32(1))));
        } else {
            for (std::size_t lane = 0; lane < 8; ++lane) {
                const std::size_t from = (slot + lane) & ring.mask;
                const std::uint32_t reach = std::min<std::uint32_t>(
                    ring.distance[from], 32u * plan.blocks[8 * group + lane]);
                const std::uint32_t sum =
                    ring.prefix[0][(from + reach) & ring.mask] - ring.prefix[0][from];
                agree |= std::uint64_t{plan.recordLength[8 * group + lane] == sum + 1} << lane;
            }
        }
        mayCount |= (agree & walks) << (8 * group);
    }
    return mayCount;
}

[[gnu::target("avx2")]] std::uint64_t level7WalksThatMayCount(const WalkPlan &plan,
                                                              const StrideFacts<48, 2>::Ring &ring,
                                                              std::uint64_t firstStart) {
    std::uint64_t mayCount = 0;
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i zero = _mm256_setzero_si256();
    for (std::size_t group = 0; group < walkPlanOffsets / 8; ++group) {
        const std::uint64_t walks = (plan.level7Walks >> (8 * group)) & 0xFF;
        if (walks == 0)
            continue;
        const std::uint64_t start = firstStart + 8 * group;
        const std::size_t slot = static_cast<std::size_t>(start) & ring.mask;
        if (slot + 8 > ring.mask + 1) {
            // Where the ring turns over: left to the one-offset search.
            mayCount |= walks << (8 * group);
            continue;
        }
        const __m256i recordLength = wide8(plan.recordLength.data() + 8 * group);
        const __m256i target = wide8(plan.blocks.data() + 8 * group);
        const __m256i walkLength =
            _mm256_add_epi32(_mm256_slli_epi32(target, 5), _mm256_slli_epi32(target, 4));
        const __m256i distance = load8x32(ring.distance + slot);
        const __m256i stopInside = _mm256_cmpgt_epi32(walkLength, distance);
        const __m256i reach = _mm256_min_epu32(distance, walkLength);
        const __m256i length =
            _mm256_sub_epi32(sumsAt(ring.prefix[level7Length], slot, reach, ring.mask),
                             load8x32(ring.prefix[level7Length] + slot));
        const __m256i tally =
            _mm256_sub_epi32(sumsAt(ring.prefix[level7Tally], slot, reach, ring.mask),
                             load8x32(ring.prefix[level7Tally] + slot));
        const __m256i collected =
            _mm256_and_si256(tally, _mm256_set1_epi32(static_cast<int>(level7MarkedUnit - 1)));
        const __m256i marked = _mm256_srli_epi32(tally, 16);
        __m256i terminator = zero;
        if (_mm256_movemask_epi8(stopInside) != 0)
            terminator = _mm256_and_si256(
                _mm256_i32gather_epi32(reinterpret_cast<const int *>(ring.terminator),
                                       slotsAfter(slot, reach, ring.mask), 1),
                _mm256_set1_epi32(0xFF));
        const __m256i notTerminator = _mm256_cmpeq_epi32(terminator, zero);
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

bool walkBatchesAvailable() {
    return false;
}
void planWalks(const std::uint8_t *, const std::uint8_t *, std::size_t, std::uint64_t, WalkPlan &) {
}
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
