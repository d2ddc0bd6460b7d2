#include "engine/descriptorchains.h"

#include <algorithm>

#include "engine/bufferedio.h"
#include "engine/tableformat.h"

namespace salvora {

namespace {

constexpr std::uint64_t stride = fieldDescriptorSize;

// The chain of `start`'s residue, positioned so that its first entry is the block at `start`:
// started afresh when `start` lies outside what it holds (keeping its storage: most offsets of
// a damaged file stop at once, and allocating anew for each would dominate the search).
template <typename Chain, std::size_t count>
Chain &chainAt(std::array<Chain, count> &chains, bool (&used)[count], std::uint64_t start,
               std::uint64_t step) {
    std::size_t residue = static_cast<std::size_t>(start % step);
    Chain &chain = chains[residue];
    if (!used[residue] || start < chain.front || start > chain.next) {
        chain.entries.clear();
        chain.front = chain.next = start;
        chain.stopped = false;
        chain.stopIsTerminator = false;
        used[residue] = true;
    }
    while (chain.front < start) {
        chain.entries.pop_front();
        chain.front += step;
    }
    return chain;
}

// The type a descriptor sets outright, whatever came before it; 0 when it sets none.
std::uint8_t settledType(const std::uint8_t *d) {
    char letter = static_cast<char>(d[11]);
    if (letter == '+' || letter == 'Y' || letter == 'T' || letter == 'G')
        return d[18] == 0x0C ? 0x31 : 0x30;
    if (letter == 'M' && d[16] == 10)
        return 0x83;
    if (letter == 'Q' || letter == 'V')
        return 0x32;
    return 0;
}

} // namespace

void inferTypeOnHeaderPath(const std::uint8_t *d, std::uint8_t &inferred) {
    char letter = static_cast<char>(d[11]);
    if (letter == '+' || letter == 'Y' || letter == 'T' || letter == 'G')
        inferred = 0x30;
    if (letter == 'M' && d[16] == 10)
        inferred = 0x83;
    if (letter == 'Q' || letter == 'V')
        inferred = 0x32;
    if (inferred == 0x30 && d[18] == 0x0C)
        inferred = 0x31;
}

void DescriptorChains::extend(Chain &chain, std::size_t wanted) {
    while (chain.entries.size() < wanted && !chain.stopped) {
        const std::uint8_t *d = reader_.view(chain.next, stride);
        if (d[0] == headerTerminator || d[0] == endOfFileMarker || !isAcceptedFieldType(d)) {
            chain.stopped = true;
            chain.stopIsTerminator = d[0] == headerTerminator || d[0] == endOfFileMarker;
            return;
        }
        Entry entry{};
        const Entry *previous = chain.entries.empty() ? nullptr : &chain.entries.back();
        entry.lengthBefore = previous ? previous->lengthBefore + previous->length : 0;
        entry.length = fieldLength(d);
        std::uint8_t settled = settledType(d);
        entry.lastSetter = settled ? chain.next : previous ? previous->lastSetter : none;
        entry.setterValue = settled ? settled : previous ? previous->setterValue : 0;
        entry.lastFlagged = d[18] == 0x0C ? chain.next : previous ? previous->lastFlagged : none;
        chain.entries.push_back(entry);
        chain.next += stride;
    }
}

DescriptorWalk DescriptorChains::walk(std::uint64_t start, std::int32_t limit,
                                      std::uint8_t &inferred) {
    DescriptorWalk result;
    if (limit <= 0)
        return result;
    Chain &chain = chainAt(chains_, used_, start, stride);
    extend(chain, static_cast<std::size_t>(limit));

    std::size_t walked = std::min(chain.entries.size(), static_cast<std::size_t>(limit));
    result.walked = static_cast<std::int32_t>(walked);
    if (walked < static_cast<std::size_t>(limit)) {
        result.terminated = chain.stopIsTerminator;
        result.unacceptable = !chain.stopIsTerminator;
    }
    if (walked == 0)
        return result;

    const Entry &last = chain.entries[walked - 1];
    result.lengthSum = last.lengthBefore + last.length - chain.entries.front().lengthBefore;
    std::uint8_t value = inferred;
    std::uint64_t flaggedAfter = start;
    if (last.lastSetter != none && last.lastSetter >= start) {
        value = last.setterValue;
        flaggedAfter = last.lastSetter + 1;
    }
    if (value == 0x30 && last.lastFlagged != none && last.lastFlagged >= flaggedAfter)
        value = 0x31;
    inferred = value;
    return result;
}

namespace {

// The type a converted level 7 descriptor sets; its field flags are always zero.
std::uint8_t settledLevel7Type(const std::uint8_t *block) {
    char letter = static_cast<char>(block[32]);
    if (letter == '+' || letter == 'Y' || letter == 'T' || letter == 'G')
        return 0x30;
    if (letter == 'M' && block[33] == 10)
        return 0x83;
    if (letter == 'Q' || letter == 'V')
        return 0x32;
    return 0;
}

} // namespace

void Level7Chains::extend(Chain &chain, std::uint64_t wantedCollected) {
    auto collectedSoFar = [&chain] {
        return chain.entries.back().collectedThrough() - chain.entries.front().collectedBefore;
    };
    while (!chain.stopped && chain.entries.size() < level7ReadLimit &&
           (chain.entries.empty() || collectedSoFar() < wantedCollected)) {
        const std::uint8_t *block = reader_.view(chain.next, level7DescriptorSize);
        if (block[0] == headerTerminator) {
            chain.stopped = true;
            chain.stopIsTerminator = true;
            return;
        }
        std::uint8_t probe[fieldDescriptorSize] = {};
        std::copy(block, block + 11, probe);
        probe[11] = block[32];
        if (!isAcceptedFieldType(probe)) {
            chain.stopped = true;
            chain.stopIsTerminator = false;
            return;
        }
        const Entry *previous = chain.entries.empty() ? nullptr : &chain.entries.back();
        Entry entry{};
        entry.collectedBefore = previous ? previous->collectedThrough() : 0;
        entry.lengthBefore = previous ? previous->lengthThrough() : 0;
        entry.marksBefore = previous ? previous->marksThrough() : 0;
        entry.collected = block[33] != 0;
        entry.mark = entry.collected && block[0] == endOfFileMarker;
        entry.length = block[32] == 'C' ? block[34] * 256u + block[33] : block[33];
        std::uint8_t settled = entry.collected ? settledLevel7Type(block) : 0;
        entry.lastSetter = settled ? chain.next : previous ? previous->lastSetter : none;
        entry.setterValue = settled ? settled : previous ? previous->setterValue : 0;
        chain.entries.push_back(entry);
        chain.next += level7DescriptorSize;
    }
}

Level7Walk Level7Chains::walk(std::uint64_t start, std::uint32_t maximum, std::uint8_t &inferred) {
    Level7Walk result;
    Chain &chain = chainAt(chains_, used_, start, level7DescriptorSize);
    const std::uint64_t limit = std::min<std::uint64_t>(maximum, level7ReadLimit);
    extend(chain, std::max<std::uint64_t>(limit, 1));
    const EntryQueue<Entry> &entries = chain.entries;
    if (entries.empty())
        return result; // the first block stops the conversion with nothing collected

    const Entry &first = entries.front();
    // Index of the first entry whose running value reaches `wanted`; entries.size() if none.
    auto firstReaching = [&entries](auto through, std::uint64_t base, std::uint64_t wanted) {
        std::size_t low = 0, high = entries.size();
        while (low < high) {
            std::size_t middle = (low + high) / 2;
            if (through(entries[middle]) - base >= wanted)
                high = middle;
            else
                low = middle + 1;
        }
        return low;
    };
    auto collected = [](const Entry &e) { return e.collectedThrough(); };
    auto marks = [](const Entry &e) { return e.marksThrough(); };

    std::size_t consumed = 1;
    if (limit > 0) {
        std::size_t at = firstReaching(collected, first.collectedBefore, limit);
        if (at == entries.size()) {
            // The conversion ran into the stop block: one of no accepted type empties it.
            if (chain.stopped && entries.size() < level7ReadLimit && !chain.stopIsTerminator)
                return result;
            consumed = entries.size();
        } else {
            consumed = at + 1;
        }
    }
    const Entry &lastConsumed = entries[consumed - 1];
    const std::uint64_t converted = lastConsumed.collectedThrough() - first.collectedBefore;
    result.converted = static_cast<std::int32_t>(converted);

    // The walk over the converted list stops at the first name that starts with 0x1A.
    std::uint64_t walked = converted;
    if (lastConsumed.marksThrough() > first.marksBefore) {
        std::size_t mark = firstReaching(marks, first.marksBefore, 1);
        walked = entries[mark].collectedBefore - first.collectedBefore;
        result.cut = true;
    }
    result.walked = static_cast<std::int32_t>(walked);
    if (walked == 0)
        return result;
    const Entry &lastWalked = entries[firstReaching(collected, first.collectedBefore, walked)];
    result.lengthSum = lastWalked.lengthThrough() - first.lengthBefore;
    if (lastWalked.lastSetter != none && lastWalked.lastSetter >= start)
        inferred = lastWalked.setterValue;
    return result;
}

} // namespace salvora
