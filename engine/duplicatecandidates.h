// The records that the delete-duplicates filter has to look at. Only a record whose key
// shares its hash with another record's can be a duplicate or be the record a duplicate
// repeats; every other key is unique in the table and needs neither a lookup nor a place in
// the duplicate table, which in a table of mostly distinct records spares nearly all of its
// memory and lookups.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/largememory.h"

namespace salvora {

class DuplicateCandidates {
  public:
    struct Candidate {
        std::uint32_t record;
        std::uint32_t hash;
    };

    // From the key hashes of all records of a table, in record order. Nothing when the memory
    // to work them out is not to be had.
    static std::optional<DuplicateCandidates> of(std::span<const std::uint32_t> keyHashes);

    // In record order.
    std::span<const Candidate> all() const {
        return {reinterpret_cast<const Candidate *>(memory_.data()), count_};
    }

  private:
    DuplicateCandidates() = default;

    platform::LargeMemory memory_;
    std::size_t count_ = 0;
};

} // namespace salvora
