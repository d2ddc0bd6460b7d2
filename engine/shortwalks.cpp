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
#define SALVORA_AVX2_LAMBDA __attribute__((target("avx2"), always_inline))

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
// Sixteen lane masks as sixteen bits.
SALVORA_AVX2 std::uint32_t bits16(__m256i lanes) {
    return bits32of16(lanes, _mm256_setzero_si256());
}
// A block's length: 16-bit for a character field, a byte otherwise.
SALVORA_AVX2 __m256i lengthOf(const std::uint8_t *letter, const std::uint8_t *low) {
    return _mm256_blendv_epi8(wide(low), wideWord(low), is16(wide(letter), 'C'));
}

// Running sums along the residues, from the back: a position's length added to the sum a
// stride on, sixteen positions at a time in 32-bit lanes.
template <std::size_t Stride>
SALVORA_AVX2 void addFromBack(std::uint32_t *sums, std::size_t j, __m256i lengths) {
    for (int h = 0; h < 2; ++h) {
        const __m256i half = _mm256_cvtepu16_epi32(h == 0 ? _mm256_castsi256_si128(lengths)
                                                          : _mm256_extracti128_si256(lengths, 1));
        std::uint32_t *at = sums + j + 8 * static_cast<std::size_t>(h);
        _mm256_storeu_si256(
            reinterpret_cast<__m256i *>(at),
            _mm256_add_epi32(half,
                             _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + Stride))));
    }
}
// What the 64 blocks from each of sixteen positions add up, saturated to 16 bits.
template <std::size_t Stride>
SALVORA_AVX2 __m256i boundAt(const std::vector<std::uint32_t> &sums, std::size_t j) {
    constexpr std::size_t past = Stride * ShortWalks::boundBlocks;
    auto load = [&sums](std::size_t at) SALVORA_AVX2_LAMBDA {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(sums.data() + at));
    };
    const __m256i low = _mm256_sub_epi32(load(j), load(j + past));
    const __m256i high = _mm256_sub_epi32(load(j + 8), load(j + 8 + past));
    return _mm256_permute4x64_epi64(_mm256_packus_epi32(low, high), 0xD8);
}

} // namespace

// What sixteen blocks in a row hold, as a 32-byte descriptor: a descriptor walk ends at a
// terminator, an end-of-file marker or a block of no accepted type, with what it added before;
// a name that may be "_NULLFLAGS" leaves it unsure.
struct ShortWalks::DescriptorFacts {
    __m256i ends;
    __m256i unsure;
    __m256i length;
};
[[gnu::target("avx2"), gnu::always_inline]] inline ShortWalks::DescriptorFacts
ShortWalks::descriptorFacts(const std::uint8_t *d, const std::uint8_t *classes) {
    const __m256i first = wide(d);
    const __m256i letterless = noLetter(classes + 11);
    return {_mm256_or_si256(
                _mm256_or_si256(is16(first, headerTerminator), is16(first, endOfFileMarker)),
                letterless),
            _mm256_and_si256(is16(first, '_'), letterless), lengthOf(d + 11, d + 16)};
}

// As a level 7 block: a walk ends at a terminator or a bad block, which leaves it nothing; it
// collects the blocks of nonzero length, and a name starting with an end-of-file marker ends
// what adds up. A name like "_NULLFLAGS" with no type letter is taken for accepted: where it
// is not, the walk collects nothing, and only a record of the flag alone agrees with that,
// which is left anyway.
struct ShortWalks::Level7Facts {
    __m256i stop;
    __m256i bad;
    __m256i collects;
    __m256i marked;
    __m256i length; // 0 where it is not collected
};
[[gnu::target("avx2"), gnu::always_inline]] inline ShortWalks::Level7Facts
ShortWalks::level7Facts(const std::uint8_t *b, const std::uint8_t *classes) {
    const __m256i first = wide(b);
    const __m256i terminator = is16(first, headerTerminator);
    const __m256i bad =
        _mm256_andnot_si256(_mm256_or_si256(terminator, is16(first, '_')), noLetter(classes + 32));
    const __m256i collects = not256(is16(wide(b + 33), 0));
    return {_mm256_or_si256(terminator, bad), bad, collects,
            _mm256_and_si256(collects, is16(first, endOfFileMarker)),
            _mm256_and_si256(collects, lengthOf(b + 32, b + 33))};
}

[[gnu::target("avx2"), gnu::always_inline]] inline void
ShortWalks::walksFrom(std::size_t j, const DescriptorFacts &d, const Level7Facts &b) {
    const __m256i one = _mm256_set1_epi16(1);
    std::size_t next = j + fieldDescriptorSize;
    store16(descriptorSum_.data() + j,
            _mm256_andnot_si256(d.ends,
                                _mm256_adds_epu16(d.length, load16(descriptorSum_.data() + next))));
    store16(descriptorBlocks_.data() + j,
            _mm256_or_si256(_mm256_and_si256(d.unsure, one),
                            _mm256_andnot_si256(
                                d.ends, _mm256_adds_epu16(load16(descriptorBlocks_.data() + next),
                                                          _mm256_set1_epi16(2)))));
    next = j + level7DescriptorSize;
    const __m256i badStop = _mm256_blendv_epi8(load16(level7BadStop_.data() + next), b.bad, b.stop);
    store16(level7BadStop_.data() + j, badStop);
    store16(level7Sum_.data() + j,
            _mm256_andnot_si256(_mm256_or_si256(_mm256_or_si256(b.stop, badStop), b.marked),
                                _mm256_adds_epu16(b.length, load16(level7Sum_.data() + next))));
    store16(level7Collected_.data() + j,
            _mm256_andnot_si256(b.stop, _mm256_adds_epu16(load16(level7Collected_.data() + next),
                                                          _mm256_and_si256(b.collects, one))));
}

[[gnu::target("avx2"), gnu::always_inline]] inline void
ShortWalks::boundsFrom(std::size_t j, const DescriptorFacts &d, const Level7Facts &b) {
    const __m256i one = _mm256_set1_epi16(1);
    addFromBack<fieldDescriptorSize>(descriptorSums_.data(), j, d.length);
    store16(descriptorClear_.data() + j,
            _mm256_andnot_si256(d.ends,
                                _mm256_adds_epu16(load16(descriptorClear_.data() + j + 32), one)));
    addFromBack<level7DescriptorSize>(level7Sums_.data(), j, b.length);
    store16(level7Clear_.data() + j,
            _mm256_andnot_si256(_mm256_or_si256(b.stop, b.marked),
                                _mm256_adds_epu16(load16(level7Clear_.data() + j + 48), one)));
}

[[gnu::target("avx2")]] void ShortWalks::build(const std::uint8_t *bytes,
                                               const std::uint8_t *classes, std::size_t from,
                                               std::size_t count) {
    from_ = from;
    count_ = count;
    // Where the last chunk's walks went on past their first blocks, this one's are likely to.
    boundsBuilt_ = boundsUsed_;
    boundsUsed_ = false;
    const std::size_t end = (count + (boundsBuilt_ ? boundReach : reach) + 15) / 16 * 16;
    if (descriptorSum_.size() < end + level7DescriptorSize) {
        for (auto *table :
             {&descriptorSum_, &descriptorBlocks_, &level7Sum_, &level7Collected_, &level7BadStop_})
            table->resize(end + level7DescriptorSize);
    }
    // Past the tables, every walk is too long to settle here.
    for (std::size_t j = end; j < end + level7DescriptorSize; j += 16) {
        store16(descriptorSum_.data() + j, _mm256_setzero_si256());
        store16(descriptorBlocks_.data() + j, _mm256_set1_epi16(static_cast<short>(0xFFFE)));
        store16(level7Sum_.data() + j, _mm256_setzero_si256());
        store16(level7Collected_.data() + j, ones());
        store16(level7BadStop_.data() + j, _mm256_setzero_si256());
    }
    if (boundsBuilt_)
        startBounds(end);
    // Two loops, so that the one without the bounds holds its facts in registers.
    const std::size_t first = from / 16 * 16;
    if (boundsBuilt_) {
        for (std::size_t j = end; j > first;) {
            j -= 16;
            const DescriptorFacts d = descriptorFacts(bytes + j, classes + j);
            const Level7Facts b = level7Facts(bytes + j, classes + j);
            walksFrom(j, d, b);
            boundsFrom(j, d, b);
        }
        return;
    }
    for (std::size_t j = end; j > first;) {
        j -= 16;
        walksFrom(j, descriptorFacts(bytes + j, classes + j), level7Facts(bytes + j, classes + j));
    }
}

[[gnu::target("avx2")]] void ShortWalks::startBounds(std::size_t end) {
    if (descriptorClear_.size() < end + level7DescriptorSize) {
        for (auto *table : {&descriptorClear_, &level7Clear_})
            table->resize(end + level7DescriptorSize);
        for (auto *table : {&descriptorSums_, &level7Sums_})
            table->resize(end + level7DescriptorSize);
    }
    for (std::size_t j = end; j < end + level7DescriptorSize; j += 16) {
        store16(descriptorClear_.data() + j, _mm256_setzero_si256());
        store16(level7Clear_.data() + j, _mm256_setzero_si256());
        for (auto *table : {&descriptorSums_, &level7Sums_})
            for (std::size_t h = 0; h < 16; h += 8)
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(table->data() + j + h),
                                    _mm256_setzero_si256());
    }
}

[[gnu::target("avx2")]] void ShortWalks::buildBounds(const std::uint8_t *bytes,
                                                     const std::uint8_t *classes) {
    boundsBuilt_ = true;
    const std::size_t end = (count_ + boundReach + 15) / 16 * 16;
    startBounds(end);
    for (std::size_t j = end; j > from_ / 16 * 16;) {
        j -= 16;
        boundsFrom(j, descriptorFacts(bytes + j, classes + j), level7Facts(bytes + j, classes + j));
    }
}

// What sixteen offsets' headers ask: which walk, how far, and the record length less one.
struct ShortWalks::Headers {
    __m256i flagAlone;       // a record of the flag alone, which counts whatever follows
    __m256i descriptorWalks; // the other lanes walk level 7 blocks, or not at all
    __m256i level7Walks;
    __m256i count;  // the descriptors a walk claims
    __m256i target; // the level 7 blocks a walk collects
    __m256i lengthBefore;
};

[[gnu::target("avx2"), gnu::always_inline]] inline ShortWalks::Headers
ShortWalks::headersAt(const std::uint8_t *p, std::uint64_t fileSize) {
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
    const __m256i count = descriptorCount16(type, headerLength);
    return {is16(recordLength, 1),
            _mm256_andnot_si256(
                level7,
                _mm256_and_si256(mayWalk, atMost16(_mm256_sub_epi16(count, _mm256_set1_epi16(1)),
                                                   _mm256_set1_epi16(fieldCountLimit - 1)))),
            _mm256_and_si256(level7, mayWalk),
            count,
            level7Count16(headerLength),
            _mm256_sub_epi16(recordLength, _mm256_set1_epi16(1))};
}

// Of the sixteen offsets from `at`, bit k for the k-th: those left by the walks they are sure to
// end (a bound may yet settle some).
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i
ShortWalks::leftOfSixteen(const Headers &headers, std::size_t at) const {
    // A walk over as many blocks as its header claims, or one that reaches past the tables,
    // is left; one that ends at its stop settles by its sum.
    const std::size_t walk = at + tableHeaderSize;
    const __m256i blocks = load16(descriptorBlocks_.data() + walk);
    const __m256i descriptorsLeft = _mm256_or_si256(
        _mm256_or_si256(atLeast16(_mm256_srli_epi16(blocks, 1), headers.count),
                        is16(_mm256_and_si256(blocks, _mm256_set1_epi16(1)), 1)),
        _mm256_cmpeq_epi16(load16(descriptorSum_.data() + walk), headers.lengthBefore));
    // A walk that collects as many blocks as its header claims is left. Up to 115 bytes a
    // header claims none (from 64 to 67 its count wraps around): always left, as rare as they
    // are.
    const std::size_t block = at + level7HeaderSize;
    const __m256i level7sLeft = _mm256_or_si256(
        atLeast16(load16(level7Collected_.data() + block), headers.target),
        _mm256_cmpeq_epi16(load16(level7Sum_.data() + block), headers.lengthBefore));
    return _mm256_or_si256(
        headers.flagAlone,
        _mm256_or_si256(_mm256_and_si256(headers.descriptorWalks, descriptorsLeft),
                        _mm256_and_si256(headers.level7Walks, level7sLeft)));
}

// Of the sixteen offsets from `at`, those whose walks go on past their first 64 blocks (and
// do not count whatever they add up), and of those, the ones their first 64 blocks settle.
[[gnu::target("avx2"), gnu::always_inline]] inline ShortWalks::Bounded
ShortWalks::boundedOfSixteen(const Headers &headers, std::size_t at) const {
    const __m256i blocks = _mm256_set1_epi16(static_cast<short>(boundBlocks));
    const std::size_t walk = at + tableHeaderSize;
    const __m256i descriptors = _mm256_and_si256(
        headers.descriptorWalks,
        _mm256_and_si256(
            atLeast16(_mm256_srli_epi16(load16(descriptorBlocks_.data() + walk), 1), headers.count),
            atLeast16(headers.count, blocks)));
    // A walk that collects its target reads as many blocks at least.
    const std::size_t block = at + level7HeaderSize;
    const __m256i level7s = _mm256_and_si256(
        headers.level7Walks,
        _mm256_and_si256(atLeast16(load16(level7Collected_.data() + block), headers.target),
                         atLeast16(headers.target, blocks)));
    Bounded bounded{_mm256_or_si256(descriptors, level7s), _mm256_setzero_si256()};
    if (!boundsBuilt_)
        return bounded;
    // Lengths only add up: a walk whose first blocks add up to more than its record length
    // less one cannot agree (a record of the flag alone agrees only with a walk that adds up
    // nothing).
    const __m256i descriptorsSettle = _mm256_andnot_si256(
        atMost16(boundAt<fieldDescriptorSize>(descriptorSums_, walk), headers.lengthBefore),
        _mm256_and_si256(descriptors, atLeast16(load16(descriptorClear_.data() + walk), blocks)));
    const __m256i level7sSettle = _mm256_andnot_si256(
        atMost16(boundAt<level7DescriptorSize>(level7Sums_, block), headers.lengthBefore),
        _mm256_and_si256(level7s, atLeast16(load16(level7Clear_.data() + block), blocks)));
    bounded.settled = _mm256_or_si256(descriptorsSettle, level7sSettle);
    return bounded;
}

[[gnu::target("avx2")]] std::size_t ShortWalks::firstLeft(const std::uint8_t *bytes,
                                                          const std::uint8_t *classes,
                                                          std::size_t from, std::size_t count,
                                                          std::uint64_t fileSize) {
    auto offsetsFrom = [count](std::size_t at) {
        return count - at < 16 ? (1u << (count - at)) - 1 : 0xFFFFu;
    };
    if (boundsBuilt_) {
        __m256i longWalks = _mm256_setzero_si256();
        std::size_t at = from;
        for (; at < count; at += 16) {
            const Headers headers = headersAt(bytes + at, fileSize);
            const __m256i left = leftOfSixteen(headers, at);
            const Bounded bounded = boundedOfSixteen(headers, at);
            longWalks = _mm256_or_si256(longWalks, _mm256_and_si256(left, bounded.longWalks));
            const std::uint32_t bits =
                bits16(_mm256_andnot_si256(bounded.settled, left)) & offsetsFrom(at);
            if (bits != 0) {
                at += static_cast<std::size_t>(std::countr_zero(bits));
                break;
            }
        }
        boundsUsed_ |= _mm256_testz_si256(longWalks, longWalks) == 0;
        return std::min(at, count);
    }
    for (std::size_t at = from; at < count; at += 16) {
        const Headers headers = headersAt(bytes + at, fileSize);
        const std::uint32_t bits = bits16(leftOfSixteen(headers, at)) & offsetsFrom(at);
        if (bits == 0)
            continue;
        if ((bits16(boundedOfSixteen(headers, at).longWalks) & bits) != 0) {
            boundsUsed_ = true;
            buildBounds(bytes, classes);
            return firstLeft(bytes, classes, at, count, fileSize);
        }
        return at + static_cast<std::size_t>(std::countr_zero(bits));
    }
    return count;
}

#else

void ShortWalks::build(const std::uint8_t *, const std::uint8_t *, std::size_t, std::size_t) {}
std::size_t ShortWalks::firstLeft(const std::uint8_t *, const std::uint8_t *, std::size_t from,
                                  std::size_t, std::uint64_t) {
    return from;
}

#endif

} // namespace salvora
