// What the header search needs to know about the blocks that follow an offset at a fixed
// stride (32-byte descriptors, 48-byte level 7 ones), for a stretch ahead of the search: each
// block is looked at once, however many candidates walk over it.
//
// Per block: whether it stops a walk (and whether as a terminator), and a few counts. Per
// position: running sums of the counts along its residue (so that a walk's sums are two
// lookups) and the first stopping block at or after it.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/bufferedio.h"
#include "engine/scanclasses.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define SALVORA_STRIDE_VECTORS 1
#endif

namespace salvora {

template <std::size_t SumCount> struct BlockFacts {
    bool stop = false;
    bool terminator = false;
    std::array<std::uint32_t, SumCount> counts{};
};

#if SALVORA_STRIDE_VECTORS
// Facts of thirty-two blocks in a row: masks (0xFF per block) and counts, eight blocks a
// vector.
template <std::size_t SumCount> struct ThirtyTwoFacts {
    __m256i stop;
    __m256i terminator;
    __m256i counts[SumCount][4];
};
#endif

// `Blocks` classifies a block (`one`) and, where the processor has AVX2, thirty-two blocks in
// a row (`thirtyTwo`).
template <std::uint32_t Stride, std::size_t SumCount> class StrideFacts {
  public:
    static constexpr std::uint64_t none = ~std::uint64_t{0};

    // `ringBits`: positions held at once, as a power of two; the stretch asked for must fit.
    // Past the end of the file every block stops a walk, so no more is held than the file.
    StrideFacts(unsigned ringBits, std::uint64_t fileSize)
        : mask_(
              (std::size_t{1} << std::min<unsigned>(ringBits, std::bit_width(fileSize + Stride))) -
              1),
          allStopped_(fileSize + Stride) {}

    // Classifies the blocks at positions up to `end` (exclusive). Positions before `oldest` are
    // never asked about again; when everything held lies before it, the stretch starts afresh.
    template <typename Blocks>
    void reach(WindowReader &reader, std::uint64_t oldest, std::uint64_t end, Blocks) {
        if (distance_.empty()) {
            distance_.resize(mask_ + 1);
            for (auto &sums : prefix_)
                sums.resize(mask_ + 1);
        }
        if (!started_ || frontier_ < oldest) {
            started_ = true;
            frontier_ = oldest;
            pending_.fill(oldest);
            for (auto &running : running_)
                running.fill(0);
        }
        oldest_ = oldest;
        end = std::min(end, allStopped_);
        while (frontier_ < end) {
            const auto length =
                static_cast<std::size_t>(std::min<std::uint64_t>(end - frontier_, pieceLength));
            classifyPiece<Blocks>(reader.view(frontier_, length + Stride), length);
        }
    }
    // Whether a walk from `start` can be answered up to `end`: the blocks up to it, or every
    // residue's next stop, are classified.
    bool holds(std::uint64_t start, std::uint64_t end) const {
        return started_ && start < frontier_ && (frontier_ > end || frontier_ >= allStopped_);
    }

    // The first stopping block at or after `p` (held, not before `oldest`) along its residue;
    // `none` when there is none before the frontier.
    std::uint64_t nextStop(std::uint64_t p) const {
        if (pending_[p % Stride] <= p)
            return none;
        return p + (distance_[static_cast<std::size_t>(p) & mask_] & ~terminatorAhead);
    }

    // What is held, for code that reads many positions at once (classified thirty-two at a
    // time). Per slot (a position's low bits, `mask`): the distance to its next stop
    // (`unknownDistance` or more: none before the frontier), with `terminatorAhead` set where
    // that stop is a terminator, and the running sums.
    struct Ring {
        const std::uint32_t *distance;
        std::array<const std::uint32_t *, SumCount> prefix;
        std::size_t mask;
    };
    Ring ring() const {
        Ring ring{distance_.data(), {}, mask_};
        for (std::size_t s = 0; s < SumCount; ++s)
            ring.prefix[s] = prefix_[s].data();
        return ring;
    }
    static constexpr std::uint32_t unknownDistance = 0x40000000;
    static constexpr std::uint32_t terminatorAhead = 0x80000000;
    // A stop's own distance is 0, with the flag where it is a terminator.
    bool isTerminator(std::uint64_t stop) const {
        return (distance_[static_cast<std::size_t>(stop) & mask_] & terminatorAhead) != 0;
    }
    // Sum of count `which` over the blocks from `from` up to `to` (exclusive), both on one
    // residue and held.
    std::uint32_t sum(std::size_t which, std::uint64_t from, std::uint64_t to) const {
        return prefix_[which][static_cast<std::size_t>(to) & mask_] -
               prefix_[which][static_cast<std::size_t>(from) & mask_];
    }

  private:
    static constexpr std::size_t pieceLength = 16384;
    // Whole turns of the residues that are a whole number of vectors of thirty-two blocks.
    static constexpr std::size_t wideRound = Stride % 32 == 0 ? Stride : 2 * Stride;

    // A block's stop as a byte of a piece: 0 none, else nonzero with the top bit set for a
    // terminator.
    static constexpr std::uint8_t stopByte(bool stop, bool terminator) {
        return stop ? (terminator ? 0x81 : 0x01) : 0;
    }

    // The first position at or after `p` on `residue`.
    static std::uint64_t onResidueFrom(std::uint64_t p, std::uint32_t residue) {
        return p + (residue + Stride - static_cast<std::uint32_t>(p % Stride)) % Stride;
    }

    // Classifies [frontier, frontier + length) from `bytes` and moves the frontier past it.
    // With the vectors, whole turns of the residues go thirty-two blocks at a time, and the
    // stops are linked afterwards, back to front, with no branch on what a block holds: over
    // junk, whether a block stops is a coin toss.
    template <typename Blocks>
    [[gnu::noinline]] void classifyPiece(const std::uint8_t *bytes, std::size_t length) {
        if (!wideVectors()) {
            classifyInOrder<Blocks>(bytes, length);
            return;
        }
        const std::uint64_t first = frontier_;
        const auto firstResidue = static_cast<std::uint32_t>(first % Stride);
        std::array<std::uint8_t, Stride> anyStop{};
        auto one = [&](std::size_t j, std::uint32_t residue) {
            const BlockFacts<SumCount> facts = Blocks::one(bytes + j);
            const std::size_t slot = static_cast<std::size_t>(first + j) & mask_;
            for (std::size_t s = 0; s < SumCount; ++s) {
                prefix_[s][slot] = running_[s][residue];
                running_[s][residue] += facts.counts[s];
            }
            stops_[j] = stopByte(facts.stop, facts.terminator);
            anyStop[residue] |= stops_[j];
        };
        std::size_t j = 0;
        for (std::uint32_t residue = firstResidue; residue < Stride && j < length; ++residue, ++j)
            one(j, residue);
        const std::size_t turnsEnd = j + (length - j) / Stride * Stride;
#if SALVORA_STRIDE_VECTORS
        // Where the ring turns over, that round goes block by block and the vectors go on.
        for (j = wideTurns<Blocks>(bytes, j, turnsEnd, first, anyStop); j < turnsEnd;
             j = wideTurns<Blocks>(bytes, j, turnsEnd, first, anyStop))
            for (std::size_t turn = 0; turn < wideRound / Stride && j < turnsEnd;
                 ++turn, j += Stride)
                for (std::uint32_t residue = 0; residue < Stride; ++residue)
                    one(j + residue, residue);
#endif
        for (; j < turnsEnd; j += Stride)
            for (std::uint32_t residue = 0; residue < Stride; ++residue)
                one(j + residue, residue);
        for (std::uint32_t residue = 0; j < length; ++residue, ++j)
            one(j, residue);
        linkStops(first, length, firstResidue, anyStop);
        frontier_ = first + length;
    }

    // Without the vectors, block by block in order: a stop settles the positions of its
    // residue that wait for one, back to the oldest asked about. Runs of blocks that do not
    // stop, the costly case, meet no branch they mispredict.
    template <typename Blocks> void classifyInOrder(const std::uint8_t *bytes, std::size_t length) {
        // Byte stores may alias anything: what the loop reads or writes through is held here.
        std::uint32_t *prefix[SumCount];
        for (std::size_t s = 0; s < SumCount; ++s)
            prefix[s] = prefix_[s].data();
        std::uint32_t *const distance = distance_.data();
        const std::size_t mask = mask_;
        const std::uint64_t oldest = oldest_;
        const std::uint64_t end = frontier_ + length;
        auto residue = static_cast<std::uint32_t>(frontier_ % Stride);
        for (std::uint64_t q = frontier_; q < end; ++q, ++bytes) {
            const BlockFacts<SumCount> facts = Blocks::one(bytes);
            const std::size_t slot = static_cast<std::size_t>(q) & mask;
            for (std::size_t s = 0; s < SumCount; ++s) {
                prefix[s][slot] = running_[s][residue];
                running_[s][residue] += facts.counts[s];
            }
            if (facts.stop) {
                const std::uint32_t kind = facts.terminator ? terminatorAhead : 0;
                for (std::uint64_t p =
                         onResidueFrom(std::min(std::max(pending_[residue], oldest), q), residue);
                     p <= q; p += Stride)
                    distance[static_cast<std::size_t>(p) & mask] =
                        static_cast<std::uint32_t>(q - p) | kind;
                pending_[residue] = q + Stride;
            }
            if (++residue == Stride)
                residue = 0;
        }
        frontier_ = end;
    }

#if SALVORA_STRIDE_VECTORS
    [[gnu::target("avx2"), gnu::always_inline]] static __m256i load256(const void *p) {
        return _mm256_loadu_si256(static_cast<const __m256i *>(p));
    }
    [[gnu::target("avx2"), gnu::always_inline]] static void store256(void *p, __m256i v) {
        _mm256_storeu_si256(static_cast<__m256i *>(p), v);
    }
    // Whole turns of the residues from `j` (residue 0) up to `end`, thirty-two blocks a vector:
    // a round of whole turns that is a whole number of vectors at a time, each vector's
    // eight-block pieces added to the running sums of their residues, which are held in
    // registers. Where the ring turns over, the round is left to the caller, and the position
    // it starts at is returned.
    template <typename Blocks>
    [[gnu::target("avx2")]] std::size_t wideTurns(const std::uint8_t *bytes, std::size_t j,
                                                  std::size_t end, std::uint64_t first,
                                                  std::array<std::uint8_t, Stride> &anyStop) {
        static_assert(Stride % 16 == 0 && (Stride * 2) % 32 == 0);
        constexpr std::size_t round = wideRound;
        constexpr std::size_t perRound = round / 32;
        __m256i running[SumCount][Stride / 8];
        for (std::size_t s = 0; s < SumCount; ++s)
            for (std::size_t v = 0; v < Stride / 8; ++v)
                running[s][v] = load256(running_[s].data() + 8 * v);
        __m256i stopped[perRound];
        for (auto &vector : stopped)
            vector = _mm256_setzero_si256();
        std::uint32_t *prefix[SumCount];
        for (std::size_t s = 0; s < SumCount; ++s)
            prefix[s] = prefix_[s].data();
        std::uint8_t *const stops = stops_.data();
        const std::size_t mask = mask_;
        const __m256i plainStop = _mm256_set1_epi8(stopByte(true, false));
        const __m256i terminatorStop = _mm256_set1_epi8(static_cast<char>(stopByte(true, true)));
        for (; j + round <= end; j += round) {
            const std::size_t slot = static_cast<std::size_t>(first + j) & mask;
            if (slot + round > mask + 1)
                break;
#pragma GCC unroll 4
            for (std::size_t q = 0; q < perRound; ++q) {
                const std::size_t at = 32 * q;
                ThirtyTwoFacts<SumCount> facts;
                Blocks::thirtyTwo(bytes + j + at, facts);
                store256(stops + j + at,
                         _mm256_or_si256(_mm256_and_si256(facts.stop, plainStop),
                                         _mm256_and_si256(facts.terminator, terminatorStop)));
                stopped[q] = _mm256_or_si256(stopped[q], facts.stop);
#pragma GCC unroll 4
                for (std::size_t g = 0; g < 4; ++g) {
                    const std::size_t residues = (at + 8 * g) % Stride / 8;
                    for (std::size_t s = 0; s < SumCount; ++s) {
                        store256(prefix[s] + slot + at + 8 * g, running[s][residues]);
                        running[s][residues] =
                            _mm256_add_epi32(running[s][residues], facts.counts[s][g]);
                    }
                }
            }
        }
        for (std::size_t s = 0; s < SumCount; ++s)
            for (std::size_t v = 0; v < Stride / 8; ++v)
                store256(running_[s].data() + 8 * v, running[s][v]);
        alignas(32) std::array<std::uint8_t, round> stoppedBytes;
        for (std::size_t q = 0; q < perRound; ++q)
            store256(stoppedBytes.data() + 32 * q, stopped[q]);
        for (std::size_t k = 0; k < round; ++k)
            anyStop[k % Stride] |= stoppedBytes[k];
        return j;
    }
    // The distances of the sixteen positions before `j` from those a stride on, eight a
    // vector, and on down while the ring allows; where it stopped.
    [[gnu::target("avx2")]] std::size_t linkWide(std::uint64_t first, std::size_t j,
                                                 std::size_t length) {
        std::uint32_t *const distance = distance_.data();
        const std::uint8_t *const stops = stops_.data();
        const std::size_t mask = mask_;
        const __m256i stride = _mm256_set1_epi32(Stride);
        const __m256i kindBit = _mm256_set1_epi32(static_cast<int>(terminatorAhead));
        for (; j >= 16 && j + Stride <= length; j -= 16) {
            const std::size_t slot = static_cast<std::size_t>(first + j - 16) & mask;
            const std::size_t laterSlot = (slot + Stride) & mask;
            if (slot + 16 > mask + 1 || laterSlot + 16 > mask + 1)
                break;
            const __m128i stop = _mm_loadu_si128(reinterpret_cast<const __m128i *>(stops + j - 16));
            const __m256i halves[2] = {_mm256_cvtepi8_epi32(stop),
                                       _mm256_cvtepi8_epi32(_mm_srli_si128(stop, 8))};
            // A stop byte, widened with its sign, holds the terminator's flag in the top bit.
            for (int h = 0; h < 2; ++h) {
                const __m256i later = _mm256_loadu_si256(
                    reinterpret_cast<const __m256i *>(distance + laterSlot + 8 * h));
                const __m256i noStop = _mm256_cmpeq_epi32(halves[h], _mm256_setzero_si256());
                _mm256_storeu_si256(reinterpret_cast<__m256i *>(distance + slot + 8 * h),
                                    _mm256_blendv_epi8(_mm256_and_si256(halves[h], kindBit),
                                                       _mm256_add_epi32(later, stride), noStop));
            }
        }
        return j;
    }
#endif

    void linkStops(std::uint64_t first, std::size_t length, std::uint32_t firstResidue,
                   const std::array<std::uint8_t, Stride> &anyStop) {
        // A position's next stop is itself or the next one's along its residue; those past the
        // piece's last stop on their residue stay unknown.
        for (std::size_t j = length; j > 0;) {
#if SALVORA_STRIDE_VECTORS
            if (j >= 16 && j + Stride <= length) {
                const std::size_t linked = linkWide(first, j, length);
                if (linked != j) {
                    j = linked;
                    continue;
                }
            }
#endif
            --j;
            const std::size_t slot = static_cast<std::size_t>(first + j) & mask_;
            const std::uint32_t later =
                j + Stride < length
                    ? distance_[static_cast<std::size_t>(first + j + Stride) & mask_] + Stride
                    : unknownDistance;
            distance_[slot] = stops_[j] == 0                      ? later
                              : stops_[j] == stopByte(true, true) ? terminatorAhead
                                                                  : 0;
        }
        for (std::uint32_t r = 0; r < Stride; ++r) {
            if (anyStop[r] == 0)
                continue;
            const std::size_t firstOfResidue = (r + Stride - firstResidue) % Stride;
            std::size_t last = firstOfResidue + (length - 1 - firstOfResidue) / Stride * Stride;
            while (stops_[last] == 0)
                last -= Stride;
            // Positions before the piece still waiting for their stop get their residue's first.
            const std::uint32_t toFirst =
                distance_[static_cast<std::size_t>(first + firstOfResidue) & mask_];
            const std::uint64_t firstStop = first + firstOfResidue + (toFirst & ~terminatorAhead);
            for (std::uint64_t p = onResidueFrom(std::max(pending_[r], oldest_), r); p < first;
                 p += Stride)
                distance_[static_cast<std::size_t>(p) & mask_] =
                    static_cast<std::uint32_t>(firstStop - p) | (toFirst & terminatorAhead);
            pending_[r] = first + last + Stride;
        }
    }

    std::size_t mask_;
    std::uint64_t allStopped_; // from here on every residue has met a stop
    bool started_ = false;
    std::uint64_t frontier_ = 0;
    std::uint64_t oldest_ = 0;
    // Per residue: the first position whose stop is not known yet, and so whose distance reads
    // as unknown.
    std::array<std::uint64_t, Stride> pending_{};
    std::array<std::array<std::uint32_t, Stride>, SumCount> running_{};
    std::vector<std::uint32_t> distance_;
    std::array<std::uint8_t, pieceLength> stops_{}; // see `stopByte`
    std::array<std::vector<std::uint32_t>, SumCount> prefix_;
};

} // namespace salvora
