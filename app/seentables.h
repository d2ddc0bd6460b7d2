// The tables a batch has taken up, by file identity: a second name of one file (a link, a
// hard link, another spelling) is never repaired a second time.
#pragma once

#include <map>
#include <optional>
#include <string>

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
    platform::Platform &os_;
    std::map<platform::FileIdentity, std::string> seen_;
};

} // namespace salvora
