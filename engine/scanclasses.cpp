#include "engine/scanclasses.h"

#include <array>
#include <atomic>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define SALVORA_SCAN_SHUFFLES 1
#endif

namespace salvora {

namespace {

constexpr std::array<std::uint8_t, 256> classTable = [] {
    std::array<std::uint8_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b)
        table[b] = scanClassOf(static_cast<std::uint8_t>(b));
    return table;
}();

void classifyByTable(const std::uint8_t *__restrict bytes, std::size_t count,
                     std::uint8_t *__restrict classes) {
    for (std::size_t k = 0; k < count; ++k)
        classes[k] = classTable[bytes[k]];
}

#if SALVORA_SCAN_SHUFFLES

constexpr std::uint8_t keptAsTheyAre = 0x3E;

constexpr bool nibblesAgreeWithTable() {
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned raw = nibbleTables.low[b & 15] & nibbleTables.high[b >> 4];
        const unsigned folded = (raw & keptAsTheyAre) | ((raw & foldedLetters) != 0 ? 1u : 0u);
        if (folded != classTable[b])
            return false;
    }
    return true;
}
static_assert(nibblesAgreeWithTable());

__attribute__((target("ssse3"))) void classifyByShuffles(const std::uint8_t *bytes,
                                                         std::size_t count, std::uint8_t *classes) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(nibbleTables.low.data()));
    const __m128i high =
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(nibbleTables.high.data()));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i letters = _mm_set1_epi8(static_cast<char>(foldedLetters));
    const __m128i kept = _mm_set1_epi8(keptAsTheyAre);
    const __m128i letterBit = _mm_set1_epi8(letterClass);
    std::size_t k = 0;
    for (; k + 16 <= count; k += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + k));
        const __m128i raw =
            _mm_and_si128(_mm_shuffle_epi8(low, _mm_and_si128(b, nibble)),
                          _mm_shuffle_epi8(high, _mm_and_si128(_mm_srli_epi16(b, 4), nibble)));
        const __m128i noLetter = _mm_cmpeq_epi8(_mm_and_si128(raw, letters), _mm_setzero_si128());
        const __m128i folded =
            _mm_or_si128(_mm_and_si128(raw, kept), _mm_andnot_si128(noLetter, letterBit));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(classes + k), folded);
    }
    classifyByTable(bytes + k, count - k, classes + k);
}

// Thirty-two bytes at a time, the rest sixteen at a time.
__attribute__((target("avx2"))) void
classifyByWideShuffles(const std::uint8_t *bytes, std::size_t count, std::uint8_t *classes) {
    const __m256i low = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(nibbleTables.low.data())));
    const __m256i high = _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(nibbleTables.high.data())));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i letters = _mm256_set1_epi8(static_cast<char>(foldedLetters));
    const __m256i kept = _mm256_set1_epi8(keptAsTheyAre);
    const __m256i letterBit = _mm256_set1_epi8(letterClass);
    std::size_t k = 0;
    for (; k + 32 <= count; k += 32) {
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + k));
        const __m256i raw = _mm256_and_si256(
            _mm256_shuffle_epi8(low, _mm256_and_si256(b, nibble)),
            _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(b, 4), nibble)));
        const __m256i noLetter =
            _mm256_cmpeq_epi8(_mm256_and_si256(raw, letters), _mm256_setzero_si256());
        const __m256i folded =
            _mm256_or_si256(_mm256_and_si256(raw, kept), _mm256_andnot_si256(noLetter, letterBit));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(classes + k), folded);
    }
    classifyByShuffles(bytes + k, count - k, classes + k);
}

#endif

} // namespace

namespace {
std::atomic<bool> wideVectorsAllowed{true};
}

bool wideVectors() {
#if SALVORA_SCAN_SHUFFLES
    static const bool available = __builtin_cpu_supports("avx2");
    return available && wideVectorsAllowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void allowWideVectors(bool allowed) {
    wideVectorsAllowed.store(allowed);
}

void classifyForScan(const std::uint8_t *bytes, std::size_t count, std::uint8_t *classes) {
#if SALVORA_SCAN_SHUFFLES
    static const bool wideShuffles = __builtin_cpu_supports("avx2");
    if (wideShuffles) {
        classifyByWideShuffles(bytes, count, classes);
        return;
    }
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    if (shuffles) {
        classifyByShuffles(bytes, count, classes);
        return;
    }
#endif
    classifyByTable(bytes, count, classes);
}

} // namespace salvora
