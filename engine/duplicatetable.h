// The record images seen so far in one run, for the delete-duplicates filter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/superfasthash.h"
#include "platform/largememory.h"

namespace salvora {

// Keys found by their SuperFastHash, each stored once: a lookup compares the stored hash
// before the key, and answers with the one earlier equal key. Instead of chains, which with
// millions of records grow hundreds long, one open-addressed index of (hash, entry) pairs
// leads to the keys, which lie end to end in large blocks. An entry costs its key, its record
// index and at most 16 bytes of index; a table of millions of records is held in large pages
// where the system has them.
class DuplicateTable {
  public:
    DuplicateTable();
    ~DuplicateTable();
    DuplicateTable(const DuplicateTable &) = delete;
    DuplicateTable &operator=(const DuplicateTable &) = delete;

    static std::uint32_t hashOf(std::span<const std::uint8_t> key) {
        return superFastHash(key.data(), static_cast<std::int32_t>(key.size()));
    }
    // `hashOf` of as many keys of `length` bytes as `hashes` has room for, the first at
    // `first` and each `stride` bytes after the one before.
    static void hashEach(const std::uint8_t *first, std::size_t stride, std::size_t length,
                         std::span<std::uint32_t> hashes);

    // True when an equal key was added before (`earlierIndex` then receives its record
    // index); otherwise keeps a copy of the key with `recordIndex` and returns false.
    // All keys of one table have one length, fixed by the first; a key of another length
    // cannot equal any of them and is not kept. Nor is a key once memory has run out.
    bool findOrAdd(std::span<const std::uint8_t> key, std::uint32_t recordIndex,
                   std::uint32_t *earlierIndex = nullptr) {
        return findOrAdd(key, hashOf(key), recordIndex, earlierIndex);
    }
    // The same with the key's hash taken beforehand. The answers hold for any hash that equal
    // keys share; `hashOf` is the one that spreads keys well.
    bool findOrAdd(std::span<const std::uint8_t> key, std::uint32_t hash, std::uint32_t recordIndex,
                   std::uint32_t *earlierIndex = nullptr);

    // For a caller that hashes records ahead of their lookup: starts fetching the index slot
    // that a lookup of this hash begins with, and later, once that has arrived, the first key
    // stored under the hash. Neither changes an answer.
    void prefetch(std::uint32_t hash) const {
        if (slots_)
            __builtin_prefetch(&slots_[homeOf(hash)]);
    }
    void prefetchKey(std::uint32_t hash) const;

    std::uint32_t count() const { return count_; }
    // Bytes held for keys, record indexes and the index.
    std::size_t memoryBytes() const;

  private:
    bool fixKeyLength(std::size_t length);
    std::uint32_t homeOf(std::uint32_t hash) const {
        return static_cast<std::uint32_t>((std::uint64_t{hash} * 0x9E3779B97F4A7C15u) >>
                                          (64 - indexBits_));
    }
    const std::uint8_t *keyOf(std::uint32_t entry) const;
    std::uint32_t recordIndexAt(std::uint32_t entry) const;
    bool addEntry(std::span<const std::uint8_t> key, std::uint32_t recordIndex);
    bool growIndex();

    // (hash << 32) | (entry + 1); 0 marks a free slot. 2^indexBits_ slots, or none yet.
    platform::LargeMemory index_;
    std::uint64_t *slots_ = nullptr;
    std::uint32_t indexBits_ = 0;
    std::uint32_t count_ = 0;
    std::size_t keyLength_ = 0;
    bool keyLengthFixed_ = false;
    // Entries in the order they were added: each block holds 2^blockShift_ record indexes and
    // then as many keys.
    std::vector<platform::LargeMemory> blocks_;
    std::uint32_t blockShift_ = 0;
    std::size_t blockBytes_ = 0;
};

} // namespace salvora
