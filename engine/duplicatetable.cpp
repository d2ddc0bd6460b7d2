#include "engine/duplicatetable.h"

#include <cstring>

namespace salvora {

namespace {

constexpr std::size_t blockTarget = 4u << 20;
constexpr std::uint32_t firstIndexBits = 10;
// An index from this size on asks for large pages.
constexpr std::size_t largeIndexBytes = 2u << 20;

} // namespace

void DuplicateTable::hashEach(const std::uint8_t *first, std::size_t stride, std::size_t length,
                              std::span<std::uint32_t> hashes) {
    superFastHashEach(first, stride, length, hashes);
}

DuplicateTable::DuplicateTable() = default;

DuplicateTable::~DuplicateTable() = default;

const std::uint8_t *DuplicateTable::keyOf(std::uint32_t entry) const {
    std::size_t perBlock = std::size_t{1} << blockShift_;
    std::size_t within = entry & (perBlock - 1);
    return blocks_[entry >> blockShift_].data() + perBlock * 4 + within * keyLength_;
}

std::uint32_t DuplicateTable::recordIndexAt(std::uint32_t entry) const {
    std::size_t within = entry & ((std::size_t{1} << blockShift_) - 1);
    std::uint32_t index;
    std::memcpy(&index, blocks_[entry >> blockShift_].data() + within * 4, 4);
    return index;
}

bool DuplicateTable::addEntry(std::span<const std::uint8_t> key, std::uint32_t recordIndex) {
    std::uint32_t entry = count_;
    std::size_t perBlock = std::size_t{1} << blockShift_;
    if ((entry >> blockShift_) == blocks_.size()) {
        // A table that needs a second block is a large one.
        platform::LargeMemory block(blockBytes_, !blocks_.empty());
        if (!block)
            return false;
        blocks_.push_back(std::move(block));
    }
    std::uint8_t *block = blocks_.back().data();
    std::size_t within = entry & (perBlock - 1);
    std::memcpy(block + within * 4, &recordIndex, 4);
    if (keyLength_ != 0)
        std::memcpy(block + perBlock * 4 + within * keyLength_, key.data(), keyLength_);
    ++count_;
    return true;
}

bool DuplicateTable::growIndex() {
    std::uint32_t bits = indexBits_ == 0 ? firstIndexBits : indexBits_ + 1;
    if (bits > 32)
        return false;
    std::size_t bytes = (std::size_t{1} << bits) * sizeof(std::uint64_t);
    platform::LargeMemory grown(bytes, bytes >= largeIndexBytes);
    if (!grown)
        return false;
    auto *slots = reinterpret_cast<std::uint64_t *>(grown.data());
    std::uint32_t mask = static_cast<std::uint32_t>((std::uint64_t{1} << bits) - 1);
    std::uint32_t oldBits = indexBits_;
    indexBits_ = bits;
    if (slots_) {
        for (std::uint64_t i = 0, n = std::uint64_t{1} << oldBits; i < n; ++i) {
            std::uint64_t slot = slots_[i];
            if (slot == 0)
                continue;
            std::uint32_t at = homeOf(static_cast<std::uint32_t>(slot >> 32));
            while (slots[at] != 0)
                at = (at + 1) & mask;
            slots[at] = slot;
        }
    }
    index_ = std::move(grown);
    slots_ = slots;
    return true;
}

// The first key fixes the length of all keys and the layout of the key blocks.
bool DuplicateTable::fixKeyLength(std::size_t length) {
    if (keyLengthFixed_)
        return length == keyLength_;
    keyLength_ = length;
    keyLengthFixed_ = true;
    blockShift_ = 0;
    while ((std::size_t{2} << blockShift_) * (keyLength_ + 4) <= blockTarget)
        ++blockShift_;
    blockBytes_ = (std::size_t{1} << blockShift_) * (keyLength_ + 4);
    return true;
}

void DuplicateTable::prefetchKey(std::uint32_t hash) const {
    if (!slots_ || keyLength_ == 0)
        return;
    std::uint32_t mask = static_cast<std::uint32_t>((std::uint64_t{1} << indexBits_) - 1);
    // A few slots on from the first: further probes are rare at the index's load.
    std::uint32_t at = homeOf(hash);
    for (int probe = 0; probe < 4; ++probe, at = (at + 1) & mask) {
        std::uint64_t slot = slots_[at];
        if (slot == 0)
            return;
        if (static_cast<std::uint32_t>(slot >> 32) == hash) {
            const std::uint8_t *key = keyOf(static_cast<std::uint32_t>(slot) - 1);
            __builtin_prefetch(key);
            __builtin_prefetch(key + keyLength_ - 1);
            return;
        }
    }
}

bool DuplicateTable::findOrAdd(std::span<const std::uint8_t> key, std::uint32_t hash,
                               std::uint32_t recordIndex, std::uint32_t *earlierIndex) {
    if (!fixKeyLength(key.size()))
        return false;
    if (!slots_ && !growIndex())
        return false;

    std::uint32_t mask = static_cast<std::uint32_t>((std::uint64_t{1} << indexBits_) - 1);
    std::uint32_t at = homeOf(hash);
    for (;; at = (at + 1) & mask) {
        std::uint64_t slot = slots_[at];
        if (slot == 0)
            break;
        if (static_cast<std::uint32_t>(slot >> 32) != hash)
            continue;
        std::uint32_t entry = static_cast<std::uint32_t>(slot) - 1;
        if (keyLength_ == 0 || std::memcmp(keyOf(entry), key.data(), keyLength_) == 0) {
            if (earlierIndex)
                *earlierIndex = recordIndexAt(entry);
            return true;
        }
    }

    // Entry numbers are stored plus one in 32 bits, and a slot always stays free to end
    // probes; an index that cannot grow takes keys until then.
    if (count_ == UINT32_MAX - 1)
        return false;
    std::uint64_t slots = std::uint64_t{1} << indexBits_;
    if ((std::uint64_t{count_} + 1) * 4 > slots * 3) {
        if (growIndex()) {
            mask = static_cast<std::uint32_t>((std::uint64_t{1} << indexBits_) - 1);
            at = homeOf(hash);
            while (slots_[at] != 0)
                at = (at + 1) & mask;
        } else if (std::uint64_t{count_} + 2 > slots) {
            return false;
        }
    }
    std::uint32_t entry = count_;
    if (!addEntry(key, recordIndex))
        return false;
    slots_[at] = std::uint64_t{hash} << 32 | (std::uint64_t{entry} + 1);
    return false;
}

std::size_t DuplicateTable::memoryBytes() const {
    return index_.size() + blocks_.capacity() * sizeof(blocks_[0]) + blocks_.size() * blockBytes_;
}

} // namespace salvora
