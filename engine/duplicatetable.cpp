#include "engine/duplicatetable.h"

#include <bit>
#include <cstring>

namespace salvora {

namespace {

std::uint32_t le16(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}

// The tail bytes are mixed in as signed chars, as the original C does.
std::uint32_t signedByte(std::uint8_t b) {
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(b)));
}

constexpr std::size_t blockTarget = 4u << 20;
constexpr std::uint32_t firstCapacity = 8;
constexpr std::uint32_t largestCapacity = 1u << 31;

// Spreads hashes of one bucket (all equal modulo 10001) over its slots.
std::uint32_t homeSlot(std::uint32_t hash, std::uint32_t capacity) {
    int bits = std::countr_zero(capacity);
    return bits == 0 ? 0 : (hash * 0x9E3779B9u) >> (32 - bits);
}

} // namespace

std::uint32_t superFastHash(const std::uint8_t *data, std::int32_t length) {
    if (data == nullptr || length <= 0)
        return 0;
    std::uint32_t h = static_cast<std::uint32_t>(length);
    for (std::int32_t groups = length >> 2; groups > 0; --groups, data += 4) {
        h += le16(data);
        std::uint32_t t = (le16(data + 2) << 11) ^ h;
        h = (h << 16) ^ t;
        h += h >> 11;
    }
    switch (length & 3) {
    case 3:
        h += le16(data);
        h ^= h << 16;
        h ^= signedByte(data[2]) << 18;
        h += h >> 11;
        break;
    case 2:
        h += le16(data);
        h ^= h << 11;
        h += h >> 17;
        break;
    case 1:
        h += signedByte(data[0]);
        h ^= h << 10;
        h += h >> 1;
        break;
    }
    h ^= h << 3;
    h += h >> 5;
    h ^= h << 4;
    h += h >> 17;
    h ^= h << 25;
    h += h >> 6;
    return h;
}

DuplicateTable::DuplicateTable() : buckets_(bucketCount) {}

DuplicateTable::~DuplicateTable() = default;

const std::uint8_t *DuplicateTable::keyOf(std::uint32_t entry) const {
    std::size_t perBlock = std::size_t{1} << blockShift_;
    std::size_t within = entry & (perBlock - 1);
    return blocks_[entry >> blockShift_].get() + perBlock * 4 + within * keyLength_;
}

std::uint32_t DuplicateTable::recordIndexAt(std::uint32_t entry) const {
    std::size_t within = entry & ((std::size_t{1} << blockShift_) - 1);
    std::uint32_t index;
    std::memcpy(&index, blocks_[entry >> blockShift_].get() + within * 4, 4);
    return index;
}

std::uint32_t DuplicateTable::addEntry(std::span<const std::uint8_t> key,
                                       std::uint32_t recordIndex) {
    std::uint32_t entry = count_++;
    std::size_t perBlock = std::size_t{1} << blockShift_;
    if ((entry >> blockShift_) == blocks_.size())
        blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(blockBytes_));
    std::uint8_t *block = blocks_.back().get();
    std::size_t within = entry & (perBlock - 1);
    std::memcpy(block + within * 4, &recordIndex, 4);
    if (keyLength_ != 0)
        std::memcpy(block + perBlock * 4 + within * keyLength_, key.data(), keyLength_);
    return entry;
}

void DuplicateTable::grow(Bucket &bucket) {
    std::uint32_t capacity = bucket.capacity == 0 ? firstCapacity : bucket.capacity * 2;
    auto slots = std::make_unique<std::uint64_t[]>(capacity);
    std::uint32_t mask = capacity - 1;
    for (std::uint32_t i = 0; i < bucket.capacity; ++i) {
        std::uint64_t slot = bucket.slots[i];
        if (slot == 0)
            continue;
        std::uint32_t at = homeSlot(static_cast<std::uint32_t>(slot >> 32), capacity);
        while (slots[at] != 0)
            at = (at + 1) & mask;
        slots[at] = slot;
    }
    bucket.slots = std::move(slots);
    bucket.capacity = capacity;
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

void DuplicateTable::prefetch(std::span<const std::uint8_t> key, std::uint32_t recordIndex) {
    if (!fixKeyLength(key.size()))
        return;
    std::uint32_t hash = superFastHash(key.data(), static_cast<std::int32_t>(key.size()));
    std::uint32_t at = recordIndex % aheadSlots;
    ahead_[at] = {recordIndex, hash, true};
    if (aheadKeys_.empty())
        aheadKeys_.resize(std::size_t{aheadSlots} * keyLength_);
    if (keyLength_ != 0)
        std::memcpy(aheadKeys_.data() + at * keyLength_, key.data(), keyLength_);
    const Bucket &bucket = buckets_[hash % bucketCount];
    if (bucket.capacity != 0)
        __builtin_prefetch(&bucket.slots[homeSlot(hash, bucket.capacity)]);
}

std::uint32_t DuplicateTable::hashOf(std::span<const std::uint8_t> key, std::uint32_t recordIndex) {
    Ahead &ahead = ahead_[recordIndex % aheadSlots];
    bool reuse =
        ahead.valid && ahead.recordIndex == recordIndex &&
        (keyLength_ == 0 || std::memcmp(aheadKeys_.data() + (recordIndex % aheadSlots) * keyLength_,
                                        key.data(), keyLength_) == 0);
    ahead.valid = false;
    return reuse ? ahead.hash : superFastHash(key.data(), static_cast<std::int32_t>(key.size()));
}

bool DuplicateTable::findOrAdd(std::span<const std::uint8_t> key, std::uint32_t recordIndex,
                               std::uint32_t *earlierIndex) {
    if (!fixKeyLength(key.size()))
        return false;

    std::uint32_t hash = hashOf(key, recordIndex);
    Bucket &bucket = buckets_[hash % bucketCount];
    if (bucket.capacity != 0) {
        std::uint32_t mask = bucket.capacity - 1;
        for (std::uint32_t at = homeSlot(hash, bucket.capacity);; at = (at + 1) & mask) {
            std::uint64_t slot = bucket.slots[at];
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
    }

    // Entry numbers are stored plus one in 32 bits; a slot always stays free to end probes.
    if (count_ == UINT32_MAX)
        return false;
    if ((std::uint64_t{bucket.used} + 1) * 4 > std::uint64_t{bucket.capacity} * 3) {
        if (bucket.capacity < largestCapacity)
            grow(bucket);
        else if (bucket.used + 1 >= bucket.capacity)
            return false;
    }
    std::uint32_t entry = addEntry(key, recordIndex);
    std::uint32_t mask = bucket.capacity - 1;
    std::uint32_t at = homeSlot(hash, bucket.capacity);
    while (bucket.slots[at] != 0)
        at = (at + 1) & mask;
    bucket.slots[at] = std::uint64_t{hash} << 32 | (std::uint64_t{entry} + 1);
    ++bucket.used;
    return false;
}

std::size_t DuplicateTable::memoryBytes() const {
    std::size_t bytes = aheadKeys_.capacity() + buckets_.capacity() * sizeof(Bucket) +
                        blocks_.capacity() * sizeof(blocks_[0]) + blocks_.size() * blockBytes_;
    for (const Bucket &bucket : buckets_)
        bytes += std::size_t{bucket.capacity} * sizeof(std::uint64_t);
    return bytes;
}

} // namespace salvora
