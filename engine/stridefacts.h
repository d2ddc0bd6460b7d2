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

namespace salvora {

template <std::size_t SumCount> struct BlockFacts {
    bool stop = false;
    bool terminator = false;
    std::array<std::uint32_t, SumCount> counts{};
};

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
    template <typename Classify>
    void reach(WindowReader &reader, std::uint64_t oldest, std::uint64_t end, Classify classify) {
        if (nextStop_.empty()) {
            nextStop_.resize(mask_ + 1);
            terminator_.resize(mask_ + 1);
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
        if (end <= frontier_)
            return;
        const std::uint8_t *bytes =
            reader.view(frontier_, static_cast<std::size_t>(end - frontier_) + Stride);
        auto residue = static_cast<std::uint32_t>(frontier_ % Stride);
        for (std::uint64_t q = frontier_; q < end; ++q, ++bytes) {
            BlockFacts<SumCount> facts = classify(bytes);
            std::size_t slot = static_cast<std::size_t>(q) & mask_;
            for (std::size_t s = 0; s < SumCount; ++s) {
                prefix_[s][slot] = running_[s][residue];
                running_[s][residue] += facts.counts[s];
            }
            if (facts.stop) {
                terminator_[slot] = facts.terminator;
                markStop(q, residue);
            }
            if (++residue == Stride)
                residue = 0;
        }
        frontier_ = end;
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
        auto stored = nextStop_[static_cast<std::size_t>(p) & mask_];
        return p + static_cast<std::uint32_t>(stored - static_cast<std::uint32_t>(p));
    }
    bool isTerminator(std::uint64_t stop) const {
        return terminator_[static_cast<std::size_t>(stop) & mask_];
    }
    // Sum of count `which` over the blocks from `from` up to `to` (exclusive), both on one
    // residue and held.
    std::uint32_t sum(std::size_t which, std::uint64_t from, std::uint64_t to) const {
        return prefix_[which][static_cast<std::size_t>(to) & mask_] -
               prefix_[which][static_cast<std::size_t>(from) & mask_];
    }

  private:
    // Every block of the residue still waiting for its stop gets this one.
    void markStop(std::uint64_t q, std::uint32_t residue) {
        std::uint64_t start = pending_[residue] > oldest_ ? pending_[residue] : oldest_;
        if (start > q)
            start = q;
        for (std::uint64_t p = q - (q - start) / Stride * Stride; p <= q; p += Stride)
            nextStop_[static_cast<std::size_t>(p) & mask_] = static_cast<std::uint32_t>(q);
        pending_[residue] = q + Stride;
    }

    std::size_t mask_;
    std::uint64_t allStopped_; // from here on every residue has met a stop
    bool started_ = false;
    std::uint64_t frontier_ = 0;
    std::uint64_t oldest_ = 0;
    // Per residue: the first position whose stop is not known yet.
    std::array<std::uint64_t, Stride> pending_{};
    std::array<std::array<std::uint32_t, Stride>, SumCount> running_{};
    std::vector<std::uint32_t> nextStop_;
    std::vector<std::uint8_t> terminator_;
    std::array<std::vector<std::uint32_t>, SumCount> prefix_;
};

} // namespace salvora
