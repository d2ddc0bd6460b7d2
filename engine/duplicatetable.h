// The record images seen so far in one run, for the delete-duplicates filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace salvora {

// Paul Hsieh's SuperFastHash, seeded with the length; 0 for a missing or empty key.
std::uint32_t superFastHash(const std::uint8_t *data, std::int32_t length);

// A hash table of 10001 buckets keyed by SuperFastHash; a lookup compares the stored hash
// before the key. With 10001 buckets a table of millions of records has chains of hundreds of
// entries, so rather than walk its chain each bucket finds its entries through a small
// open-addressed index of (hash, entry) pairs: the same answer in one probe. A key is stored
// only when no equal one is, so the first match is the only one. Keys live in large shared
// blocks: an entry costs its key plus a few words.
class DuplicateTable {
  public:
    static constexpr std::uint32_t bucketCount = 10001;

    DuplicateTable();
    ~DuplicateTable();
    DuplicateTable(const DuplicateTable &) = delete;
    DuplicateTable &operator=(const DuplicateTable &) = delete;

    // True when an equal key was added before (`earlierIndex` then receives its record
    // index); otherwise keeps a copy of the key with `recordIndex` and returns false.
    // All keys of one table have one length, fixed by the first; a key of another length
    // cannot equal any of them and is not kept.
    bool findOrAdd(std::span<const std::uint8_t> key, std::uint32_t recordIndex,
                   std::uint32_t *earlierIndex = nullptr);

    // Optional look-ahead for a caller that can see a few records ahead: hashes the key of
    // record `recordIndex` now and starts fetching its bucket's slot, so that the lookup does
    // not wait on memory. The hash is reused only for the same record with the same bytes.
    void prefetch(std::span<const std::uint8_t> key, std::uint32_t recordIndex);

    std::uint32_t count() const { return count_; }
    // Bytes held for keys, entries and buckets.
    std::size_t memoryBytes() const;

  private:
    struct Bucket {
        // (hash << 32) | (entry + 1); 0 marks a free slot.
        std::unique_ptr<std::uint64_t[]> slots;
        std::uint32_t capacity = 0; // a power of two, or 0 before the first entry
        std::uint32_t used = 0;
    };

    // Hashes taken ahead, one per record index modulo `aheadSlots`, with the key they were
    // taken of.
    static constexpr std::uint32_t aheadSlots = 16;
    struct Ahead {
        std::uint32_t recordIndex = 0;
        std::uint32_t hash = 0;
        bool valid = false;
    };

    bool fixKeyLength(std::size_t length);
    std::uint32_t hashOf(std::span<const std::uint8_t> key, std::uint32_t recordIndex);
    const std::uint8_t *keyOf(std::uint32_t entry) const;
    std::uint32_t recordIndexAt(std::uint32_t entry) const;
    std::uint32_t addEntry(std::span<const std::uint8_t> key, std::uint32_t recordIndex);
    void grow(Bucket &bucket);

    std::vector<Bucket> buckets_;
    std::uint32_t count_ = 0;
    std::size_t keyLength_ = 0;
    bool keyLengthFixed_ = false;
    // Entries in the order they were added: each block holds `perBlock` record indexes and
    // then as many keys.
    std::vector<std::unique_ptr<std::uint8_t[]>> blocks_;
    std::uint32_t blockShift_ = 0;
    std::size_t blockBytes_ = 0;
    Ahead ahead_[aheadSlots];
    std::vector<std::uint8_t> aheadKeys_;
};

} // namespace salvora
