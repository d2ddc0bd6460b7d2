#include "engine/shortwalks.h"

#include <algorithm>
#include <bit>

#include "engine/lanes16.h"
#include "engine/scanclasses.h"

namespace salvora {

#if SALVORA_LANES16

namespace {

using namespace lanes16;

#define SALVORA_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline

SALVORA_AVX2 __m256i load16(const std::uint16_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
SALVORA_AVX2 void store16(std::uint16_t *p, __m256i lanes) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), lanes);
}
SALVORA_AVX2 __m256i ones() {
    return _mm256_set1_epi32(-1);
}
// Lanes whose byte of scan classes has no accepted type letter.
SALVORA_AVX2 __m256i noLetter(const std::uint8_t *classes) {
    return is16(_mm256_and_si256(wide(classes), _mm256_set1_epi16(letterClass)), 0);
}
// A block's length: 16-bit for a character field, a byte otherwise.
SALVORA_AVX2 __m256i lengthOf(const std::uint8_t *letter, const std::uint8_t *low) {
    return _mm256_blendv_epi8(wide(low), wideWord(low), is16(wide(letter), 'C'));
}

} // namespace

[[gnu::target("avx2")]] void ShortWalks::build(const std::uint8_t *bytes,
                                               const std::uint8_t *classes, std::size_t from,
                                               std::size_t count) {
    const std::size_t end = (count + reach + 15) / 16 * 16;
    if (descriptorSum_.size() < end + level7DescriptorSize) {
        for (auto *table :
             {&descriptorSum_, &descriptorBlocks_, &level7Sum_, &level7Collected_, &level7BadStop_})
            table->resize(end + level7DescriptorSize);
    }
    // Past the tables, every walk is too long to settle here.
    for (std::size_t j = end; j < end + level7DescriptorSize; j += 16) {
        store16(descriptorSum_.data() + j, _mm256_setzero_si256());
        store16(descriptorBlocks_.data() + j, ones());
        store16(level7Sum_.data() + j, _mm256_setzero_si256());
        store16(level7Collected_.data() + j, ones());
        store16(level7BadStop_.data() + j, _mm256_setzero_si256());
    }
    const __m256i one = _mm256_set1_epi16(1);
    for (std::size_t j = end; j > from / 16 * 16;) {
        j -= 16;
        {
            // A descriptor walk ends at a terminator, an end-of-file marker or a block of no
            // accepted type, with what it added before; a name that may be "_NULLFLAGS" leaves
            // it unsure.
            const std::uint8_t *d = bytes + j;
            const __m256i first = wide(d);
            const __m256i letterless = noLetter(classes + j + 11);
            const __m256i named = is16(first, '_');
            const __m256i stop = _mm256_or_si256(
                _mm256_or_si256(is16(first, headerTerminator), is16(first, endOfFileMarker)),
                _mm256_andnot_si256(named, letterless));
            const __m256i unsure = _mm256_and_si256(named, letterless);
            const std::size_t next = j + fieldDescriptorSize;
            store16(
                descriptorSum_.data() + j,
                _mm256_andnot_si256(stop, _mm256_adds_epu16(lengthOf(d + 11, d + 16),
                                                            load16(descriptorSum_.data() + next))));
            store16(descriptorBlocks_.data() + j,
                    _mm256_andnot_si256(
                        stop, _mm256_or_si256(
                                  unsure, _mm256_adds_epu16(load16(descriptorBlocks_.data() + next),
                                                            one))));
        }
        {
            // A level 7 walk ends at a terminator or a bad block, which leaves it nothing;
            // it collects the blocks of nonzero length, and a name starting with an end-of-file
            // marker ends what adds up. A name like "_NULLFLAGS" with no type letter is taken
            // for accepted: where it is not, the walk collects nothing, and only a record of the
            // flag alone agrees with that, which is left anyway.
            const std::uint8_t *b = bytes + j;
            const __m256i first = wide(b);
            const __m256i terminator = is16(first, headerTerminator);
            const __m256i bad = _mm256_andnot_si256(_mm256_or_si256(terminator, is16(first, '_')),
                                                    noLetter(classes + j + 32));
            const __m256i stop = _mm256_or_si256(terminator, bad);
            const __m256i collects = not256(is16(wide(b + 33), 0));
            const std::size_t next = j + level7DescriptorSize;
            const __m256i badStop =
                _mm256_blendv_epi8(load16(level7BadStop_.data() + next), bad, stop);
            const __m256i laterSum = load16(level7Sum_.data() + next);
            const __m256i added = _mm256_blendv_epi8(
                laterSum,
                _mm256_andnot_si256(is16(first, endOfFileMarker),
                                    _mm256_adds_epu16(lengthOf(b + 32, b + 33), laterSum)),
                collects);
            store16(level7BadStop_.data() + j, badStop);
            store16(level7Sum_.data() + j,
                    _mm256_andnot_si256(_mm256_or_si256(stop, badStop), added));
            store16(
                level7Collected_.data() + j,
                _mm256_andnot_si256(stop, _mm256_adds_epu16(load16(level7Collected_.data() + next),
                                                            _mm256_and_si256(collects, one))));
        }
    }
}

// Of the sixteen offsets from `at`, bit k for the k-th: those `firstLeft` stops at.
[[gnu::target("avx2"), gnu::always_inline]] inline std::uint32_t
ShortWalks::leftOfSixteen(const std::uint8_t *bytes, std::size_t at, std::uint64_t fileSize) const {
    const std::uint8_t *p = bytes + at;
    const __m256i type = wide(p);
    const __m256i headerLength = wideWord(p + 8);
    const __m256i recordLength = wideWord(p + 10);
    const auto longest = static_cast<short>(std::min<std::uint64_t>(fileSize, 0xFFFF));
    const __m256i mayWalk = _mm256_andnot_si256(
        is16(recordLength, 0),
        _mm256_and_si256(
            atLeast16(headerLength, _mm256_set1_epi16(static_cast<short>(2 * tableHeaderSize))),
            atMost16(headerLength, _mm256_set1_epi16(longest))));
    const __m256i level7 = is16(_mm256_and_si256(type, _mm256_set1_epi16(7)), 4);
    const __m256i lengthBefore = _mm256_sub_epi16(recordLength, _mm256_set1_epi16(1));

    // A walk over as many blocks as its header claims, or one that reaches past the tables,
    // is left; one that ends at its stop settles by its sum.
    const __m256i count = descriptorCount16(type, headerLength);
    const __m256i descriptorWalks = _mm256_andnot_si256(
        level7, _mm256_and_si256(mayWalk, atMost16(_mm256_sub_epi16(count, _mm256_set1_epi16(1)),
                                                   _mm256_set1_epi16(fieldCountLimit - 1))));
    const __m256i descriptorsLeft = _mm256_or_si256(
        atLeast16(load16(descriptorBlocks_.data() + at + tableHeaderSize), count),
        _mm256_cmpeq_epi16(load16(descriptorSum_.data() + at + tableHeaderSize), lengthBefore));

    // A walk that collects as many blocks as its header claims is left. Up to 115 bytes a
    // header claims none (from 64 to 67 its count wraps around): always left, as rare as they
    // are.
    const __m256i level7sLeft = _mm256_or_si256(
        atLeast16(load16(level7Collected_.data() + at + level7HeaderSize),
                  level7Count16(headerLength)),
        _mm256_cmpeq_epi16(load16(level7Sum_.data() + at + level7HeaderSize), lengthBefore));

    // A record of the flag alone counts whatever follows.
    const __m256i left = _mm256_or_si256(
        is16(recordLength, 1),
        _mm256_or_si256(_mm256_and_si256(descriptorWalks, descriptorsLeft),
                        _mm256_and_si256(_mm256_and_si256(level7, mayWalk), level7sLeft)));
    const __m256i packed = _mm256_packs_epi16(left, _mm256_setzero_si256());
    return static_cast<std::uint32_t>(
               _mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, 0xD8))) &
           0xFFFF;
}

[[gnu::target("avx2")]] std::size_t ShortWalks::firstLeft(const std::uint8_t *bytes,
                                                          std::size_t from, std::size_t count,
                                                          std::uint64_t fileSize) const {
    for (std::size_t at = from; at < count; at += 16) {
        std::uint32_t left = leftOfSixteen(bytes, at, fileSize);
        if (count - at < 16)
            left &= (1u << (count - at)) - 1;
        if (left != 0)
            return at + static_cast<std::size_t>(std::countr_zero(left));
    }
    return count;
}

#else

void ShortWalks::build(const std::uint8_t *, const std::uint8_t *, std::size_t, std::size_t) {}
std::size_t ShortWalks::firstLeft(const std::uint8_t *, std::size_t from, std::size_t,
                                  std::uint64_t) const {
    return from;
}

#endif

} // namespace salvora
