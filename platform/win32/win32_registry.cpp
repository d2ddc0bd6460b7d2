#include "platform/registry.h"

#include <windows.h>

namespace salvora::platform {

namespace {

class Win32RegistryKey final : public RegistryKey {
  public:
    explicit Win32RegistryKey(HKEY key) : key_(key) {}
    ~Win32RegistryKey() override { ::RegCloseKey(key_); }
    Win32RegistryKey(const Win32RegistryKey &) = delete;
    Win32RegistryKey &operator=(const Win32RegistryKey &) = delete;

    std::optional<RegistryData> query(const std::string &name) override {
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExA(key_, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        std::string bytes(size, '\0');
        if (::RegQueryValueExA(key_, name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE *>(bytes.data()), &size) != ERROR_SUCCESS)
            return std::nullopt;
        bytes.resize(size);
        RegistryType kind = type == REG_SZ      ? RegistryType::Text
                            : type == REG_DWORD ? RegistryType::Number
                                                : RegistryType::Binary;
        return RegistryData{kind, bytes};
    }

    ErrorCode set(const std::string &name, const RegistryData &data) override {
        return static_cast<ErrorCode>(
            ::RegSetValueExA(key_, name.c_str(), 0, static_cast<DWORD>(data.type),
                             reinterpret_cast<const BYTE *>(data.bytes.data()),
                             static_cast<DWORD>(data.bytes.size())));
    }

  private:
    HKEY key_;
};

} // namespace

std::unique_ptr<RegistryKey> RegistryKey::openCurrentUser(const std::string &subkey,
                                                          std::uint32_t &disposition) {
    HKEY key = nullptr;
    DWORD found = 0;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, &found) != ERROR_SUCCESS) {
        disposition = 0;
        return nullptr;
    }
    disposition = found;
    return std::make_unique<Win32RegistryKey>(key);
}

} // namespace salvora::platform
