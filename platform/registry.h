// One registry key of the current user. Windows only: the other platforms keep their
// settings in a file and never include this.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace salvora::platform {

enum class RegistryType : std::uint32_t { Text = 1, Binary = 3, Number = 4 }; // REG_SZ, ...

struct RegistryData {
    RegistryType type = RegistryType::Binary;
    std::string bytes;
};

class RegistryKey {
  public:
    // Creates or opens HKEY_CURRENT_USER\`subkey` with all access. `disposition` is 1 for a
    // key created now, 2 for an existing one, 0 with a null result on failure.
    static std::unique_ptr<RegistryKey> openCurrentUser(const std::string &subkey,
                                                        std::uint32_t &disposition);

    virtual ~RegistryKey() = default;
    virtual std::optional<RegistryData> query(const std::string &name) = 0;
    virtual ErrorCode set(const std::string &name, const RegistryData &data) = 0;
};

} // namespace salvora::platform
