// How the header search classifies a 32-byte descriptor and a 48-byte level 7 block for its
// walks (see `StrideFacts`): one block at a time, and thirty-two in a row where the processor
// has AVX2.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/scanclasses.h"
#include "engine/stridefacts.h"
#include "engine/tableformat.h"
#include "engine/walkbatch.h"

namespace salvora {

// Whether a block's name and its type letter, at `letterAt`, make an accepted field type.
inline bool acceptedType(const std::uint8_t *block, std::size_t letterAt) {
    std::array<std::uint8_t, fieldDescriptorSize> probe{};
    std::memcpy(probe.data(), block, 11);
    probe[11] = block[letterAt];
    return isAcceptedFieldType(probe.data());
}

inline BlockFacts<1> classifyDescriptor(const std::uint8_t *d) {
    BlockFacts<1> facts;
    if (d[0] == headerTerminator || d[0] == endOfFileMarker) {
        facts.stop = true;
        facts.terminator = true;
    } else if (!acceptedTypeLetters[d[11]] && !(d[0] == '_' && isAcceptedFieldType(d))) {
        facts.stop = true;
    } else {
        facts.counts[0] = d[11] == 'C' ? d[17] * 256u + d[16] : d[16];
    }
    return facts;
}

inline BlockFacts<2> classifyLevel7(const std::uint8_t *b) {
    BlockFacts<2> facts;
    if (b[0] == headerTerminator) {
        facts.stop = true;
        facts.terminator = true;
        return facts;
    }
    if (!acceptedTypeLetters[b[32]] && !(b[0] == '_' && acceptedType(b, 32))) {
        facts.stop = true;
        return facts;
    }
    if (b[33] != 0) {
        facts.counts[level7Length] = b[32] == 'C' ? b[34] * 256u + b[33] : b[33];
        facts.counts[level7Tally] = 1 + (b[0] == endOfFileMarker ? level7MarkedUnit : 0);
    }
    return facts;
}

#if SALVORA_STRIDE_VECTORS
namespace wideblocks {

#define SALVORA_WIDE [[gnu::target("avx2"), gnu::always_inline]] inline
SALVORA_WIDE __m256i bytesAt(const std::uint8_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
SALVORA_WIDE __m128i halfOf(__m256i bytes, int half) {
    return half == 0 ? _mm256_castsi256_si128(bytes) : _mm256_extracti128_si256(bytes, 1);
}
// 0xFF where the byte is no accepted type letter.
SALVORA_WIDE __m256i noLetterIn(__m256i bytes) {
    const __m256i low = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(nibbleTables.low.data())));
    const __m256i high = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(nibbleTables.high.data())));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i shared = _mm256_and_si256(
        _mm256_shuffle_epi8(low, _mm256_and_si256(bytes, nibble)),
        _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(bytes, 4), nibble)));
    return _mm256_cmpeq_epi8(
        _mm256_and_si256(shared, _mm256_set1_epi8(static_cast<char>(foldedLetters))),
        _mm256_setzero_si256());
}
SALVORA_WIDE __m256i is(__m256i bytes, int value) {
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(static_cast<char>(value)));
}
// Thirty-two lengths, each a low and a high byte, as eight 32-bit lanes a vector.
SALVORA_WIDE void widenLengths(__m256i low, __m256i high, __m256i (&lengths)[4]) {
    for (int h = 0; h < 2; ++h) {
        const __m256i words =
            _mm256_or_si256(_mm256_cvtepu8_epi16(halfOf(low, h)),
                            _mm256_slli_epi16(_mm256_cvtepu8_epi16(halfOf(high, h)), 8));
        lengths[2 * h] = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(words));
        lengths[2 * h + 1] = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(words, 1));
    }
}

// `noLetter` without the blocks whose name is "_NULLFLAGS", an accepted type whatever the
// letter (at `letterAt` in the block).
[[gnu::target("avx2")]] inline __m256i withNullFlags(const std::uint8_t *blocks, __m256i first,
                                                     __m256i noLetter, std::size_t letterAt) {
    auto named = static_cast<std::uint32_t>(_mm256_movemask_epi8(
        _mm256_and_si256(_mm256_cmpeq_epi8(first, _mm256_set1_epi8('_')), noLetter)));
    if (named == 0) [[likely]]
        return noLetter;
    alignas(32) std::array<std::uint8_t, 32> accepted{};
    for (; named != 0; named &= named - 1) {
        const int lane = std::countr_zero(named);
        accepted[static_cast<std::size_t>(lane)] = acceptedType(blocks + lane, letterAt) ? 0xFF : 0;
    }
    return _mm256_andnot_si256(
        _mm256_load_si256(reinterpret_cast<const __m256i *>(accepted.data())), noLetter);
}
#undef SALVORA_WIDE

} // namespace wideblocks
#endif

struct DescriptorBlocks {
    static BlockFacts<1> one(const std::uint8_t *d) { return classifyDescriptor(d); }
#if SALVORA_STRIDE_VECTORS
    [[gnu::target("avx2")]] static void thirtyTwo(const std::uint8_t *d, ThirtyTwoFacts<1> &facts) {
        using namespace wideblocks;
        const __m256i first = bytesAt(d);
        const __m256i noLetter = withNullFlags(d, first, noLetterIn(bytesAt(d + 11)), 11);
        facts.terminator = _mm256_or_si256(is(first, headerTerminator), is(first, endOfFileMarker));
        facts.stop = _mm256_or_si256(facts.terminator, noLetter);
        const __m256i low = _mm256_andnot_si256(facts.stop, bytesAt(d + 16));
        const __m256i high = _mm256_andnot_si256(
            facts.stop, _mm256_and_si256(bytesAt(d + 17), is(bytesAt(d + 11), 'C')));
        widenLengths(low, high, facts.counts[0]);
    }
#endif
};

struct Level7Blocks {
    static BlockFacts<2> one(const std::uint8_t *b) { return classifyLevel7(b); }
#if SALVORA_STRIDE_VECTORS
    [[gnu::target("avx2")]] static void thirtyTwo(const std::uint8_t *b, ThirtyTwoFacts<2> &facts) {
        using namespace wideblocks;
        const __m256i first = bytesAt(b);
        const __m256i noLetter = withNullFlags(b, first, noLetterIn(bytesAt(b + 32)), 32);
        facts.terminator = is(first, headerTerminator);
        facts.stop = _mm256_or_si256(facts.terminator, noLetter);
        const __m256i length = bytesAt(b + 33);
        const __m256i collected =
            _mm256_xor_si256(_mm256_or_si256(facts.stop, is(length, 0)), _mm256_set1_epi8(-1));
        const __m256i high = _mm256_and_si256(
            collected, _mm256_and_si256(bytesAt(b + 34), is(bytesAt(b + 32), 'C')));
        const __m256i low = _mm256_and_si256(collected, length);
        // A tally's low byte is 1 where collected; its third byte 1 where also marked.
        const __m256i ones = _mm256_set1_epi8(1);
        const __m256i tally = _mm256_and_si256(collected, ones);
        const __m256i marked =
            _mm256_and_si256(_mm256_and_si256(collected, is(first, endOfFileMarker)), ones);
        widenLengths(low, high, facts.counts[level7Length]);
        for (int h = 0; h < 2; ++h) {
            const __m128i tallyHalf = halfOf(tally, h);
            const __m128i markedHalf = halfOf(marked, h);
            for (int q = 0; q < 2; ++q) {
                const __m128i tallies = q == 0 ? tallyHalf : _mm_srli_si128(tallyHalf, 8);
                const __m128i marks = q == 0 ? markedHalf : _mm_srli_si128(markedHalf, 8);
                facts.counts[level7Tally][2 * h + q] =
                    _mm256_or_si256(_mm256_cvtepu8_epi32(tallies),
                                    _mm256_slli_epi32(_mm256_cvtepu8_epi32(marks), 16));
            }
        }
    }
#endif
};

} // namespace salvora
