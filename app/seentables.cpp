#include "app/seentables.h"

namespace salvora {

SeenTables::Slot &SeenTables::slotFor(const platform::FileIdentity &identity) {
    if (2 * (used_ + 1) > slots_.size()) {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        for (const Slot &slot : old) {
            if (slot.used)
                probe(slot.identity) = slot;
        }
    }
    return probe(identity);
}

SeenTables::Slot &SeenTables::probe(const platform::FileIdentity &identity) {
    std::uint64_t hash =
        (identity.file ^ (identity.volume * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
    std::size_t mask = slots_.size() - 1;
    for (std::size_t at = static_cast<std::size_t>(hash >> 32) & mask;; at = (at + 1) & mask) {
        Slot &slot = slots_[at];
        if (!slot.used || slot.identity == identity)
            return slot;
    }
}

void SeenTables::keepName(Slot &slot, const std::string &path) {
    if (!slot.used) {
        slot.used = true;
        ++used_;
    }
    slot.nameAt = names_.size();
    slot.nameSize = path.size();
    names_ += path;
}

std::optional<std::string> SeenTables::firstNameOf(const std::string &path) {
    std::optional<platform::FileIdentity> identity = os_.identity(path);
    if (!identity)
        return std::nullopt; // the run says why it cannot be used
    Slot &slot = slotFor(*identity);
    if (slot.used)
        return names_.substr(slot.nameAt, slot.nameSize);
    slot.identity = *identity;
    keepName(slot, path);
    return std::nullopt;
}

void SeenTables::repaired(const std::string &path, std::optional<platform::FileIdentity> identity) {
    // The new file may have the number of one that a repair before freed: the live file wins.
    if (!identity)
        return;
    Slot &slot = slotFor(*identity);
    slot.identity = *identity;
    keepName(slot, path);
}

} // namespace salvora
