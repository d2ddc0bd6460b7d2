#include "app/seentables.h"

namespace salvora {

std::optional<std::string> SeenTables::firstNameOf(const std::string &path) {
    std::optional<platform::FileIdentity> identity = os_.identity(path);
    if (!identity)
        return std::nullopt; // the run says why it cannot be used
    auto [at, added] = seen_.emplace(*identity, path);
    if (added)
        return std::nullopt;
    return at->second;
}

void SeenTables::repaired(const std::string &path, std::optional<platform::FileIdentity> identity) {
    // The new file may have the number of one that a repair before freed: the live file wins.
    if (identity)
        seen_.insert_or_assign(*identity, path);
}

} // namespace salvora
