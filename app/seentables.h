// The tables a batch has taken up, by file identity: a second name of one file (a link, a
// hard link, another spelling) is never repaired a second time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace salvora {

class SeenTables {
  public:
    explicit SeenTables(platform::Platform &os) : os_(os) {}

    // The first name the file behind `path` was taken up under; nothing when it is new, and
    // it is remembered under `path` from now on.
    std::optional<std::string> firstNameOf(const std::string &path);
    // After `path` was repaired: its result is a new file, still the same table.
    void repaired(const std::string &path) { repaired(path, os_.identity(path)); }
    // The same with the identity the result had right after the repair.
    void repaired(const std::string &path, std::optional<platform::FileIdentity> identity);

  private:
    // An open-addressed table with the names in one block: a batch of many thousand tables
    // gives it back in a few frees, not two for each table.
    struct Slot {
        platform::FileIdentity identity;
        std::size_t nameAt = 0;
        std::size_t nameSize = 0;
        bool used = false;
    };
    // The slot of `identity`, or the free one it would take; room is made first.
    Slot &slotFor(const platform::FileIdentity &identity);
    Slot &probe(const platform::FileIdentity &identity);
    void keepName(Slot &slot, const std::string &path);

    platform::Platform &os_;
    std::vector<Slot> slots_ = std::vector<Slot>(64); // a power of two, never half full
    std::size_t used_ = 0;
    std::string names_;
};

} // namespace salvora
