// What the header search's vector code asks of sixteen offsets in a row, one 16-bit lane each:
// their bytes widened, and what their headers say.
#pragma once

#include <cstdint>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define SALVORA_LANES16 1

namespace salvora::lanes16 {

#define SALVORA_LANES16_FN [[gnu::target("avx2"), gnu::always_inline]] inline

// Sixteen bytes as sixteen 16-bit lanes.
SALVORA_LANES16_FN __m256i wide(const std::uint8_t *p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}
// Sixteen little-endian words, each from a byte on.
SALVORA_LANES16_FN __m256i wideWord(const std::uint8_t *p) {
    return _mm256_or_si256(wide(p), _mm256_slli_epi16(wide(p + 1), 8));
}
SALVORA_LANES16_FN __m256i is16(__m256i lanes, int value) {
    return _mm256_cmpeq_epi16(lanes, _mm256_set1_epi16(static_cast<short>(value)));
}
SALVORA_LANES16_FN __m256i not256(__m256i lanes) {
    return _mm256_xor_si256(lanes, _mm256_set1_epi32(-1));
}
// Unsigned comparisons with a bound.
SALVORA_LANES16_FN __m256i atMost16(__m256i lanes, __m256i bound) {
    return _mm256_cmpeq_epi16(_mm256_min_epu16(lanes, bound), lanes);
}
SALVORA_LANES16_FN __m256i atLeast16(__m256i lanes, __m256i bound) {
    return _mm256_cmpeq_epi16(_mm256_max_epu16(lanes, bound), lanes);
}

// Thirty-two lane masks, sixteen in each of two vectors, as thirty-two bits (the first
// vector's in the low half).
SALVORA_LANES16_FN std::uint32_t bits32of16(__m256i low, __m256i high) {
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(low, high), 0xD8);
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes));
}

// The descriptors a header of `type` and `headerLength` claims: 0 where the length is too short
// for the first (a Visual FoxPro table's backlink comes before its descriptors end).
SALVORA_LANES16_FN __m256i descriptorCount16(__m256i type, __m256i headerLength) {
    const __m256i afterVisualFoxPro = _mm256_sub_epi16(type, _mm256_set1_epi16(0x30));
    const __m256i visualFoxPro = atMost16(afterVisualFoxPro, _mm256_set1_epi16(2));
    const __m256i descriptorsFrom =
        _mm256_blendv_epi8(_mm256_set1_epi16(32), _mm256_set1_epi16(296), visualFoxPro);
    return _mm256_srli_epi16(_mm256_subs_epu16(headerLength, descriptorsFrom), 5);
}
// The level 7 blocks a header of `headerLength` (68 or more) claims: (length - 68) / 48, as
// ((length - 68) / 16) / 3, the last by multiplying.
SALVORA_LANES16_FN __m256i level7Count16(__m256i headerLength) {
    return _mm256_srli_epi16(
        _mm256_mulhi_epu16(
            _mm256_srli_epi16(_mm256_subs_epu16(headerLength, _mm256_set1_epi16(68)), 4),
            _mm256_set1_epi16(static_cast<short>(0xAAAB))),
        1);
}

#undef SALVORA_LANES16_FN

} // namespace salvora::lanes16

#endif
