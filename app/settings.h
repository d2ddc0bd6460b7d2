// What the program remembers between runs, as named, typed values under one key of the
// current user: the registry on Windows, a settings file elsewhere. `SettingsStore` gives
// the operations the program uses; a `SettingsBackend` holds the values.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/appsystem.h"

namespace salvora {

enum class ValueType { Text, Binary, Number }; // REG_SZ, REG_BINARY, REG_DWORD

// Text data carries its terminating zero byte, as the registry stores it.
struct SettingsValue {
    ValueType type = ValueType::Binary;
    std::string data;
    bool operator==(const SettingsValue &) const = default;
};

class SettingsBackend {
  public:
    virtual ~SettingsBackend() = default;
    virtual std::optional<SettingsValue> read(const std::string &name) = 0;
    // 0 when the value is stored, else the system's error code.
    virtual int write(const std::string &name, const SettingsValue &value) = 0;
};

// What opening the key found.
inline constexpr std::uint32_t settingsOpenFailed = 0;
inline constexpr std::uint32_t settingsCreatedNew = 1;     // REG_CREATED_NEW_KEY
inline constexpr std::uint32_t settingsOpenedExisting = 2; // REG_OPENED_EXISTING_KEY

class SettingsStore {
  public:
    // A null backend is a key that could not be opened: reads find nothing, writes fail.
    SettingsStore(std::unique_ptr<SettingsBackend> backend, std::uint32_t disposition)
        : backend_(std::move(backend)), disposition_(disposition) {}

    std::uint32_t disposition() const { return disposition_; }

    // The value's bytes when it exists and has at most `size` bytes (text with its zero).
    std::optional<std::string> readValue(const std::string &name, std::size_t size);
    // Text without its terminator; nullopt when missing or longer than `size` bytes.
    std::optional<std::string> readText(const std::string &name, std::size_t size);
    // A 4-byte value; a missing one takes `fallback`, which is written at once.
    std::int32_t readNumber(const std::string &name, std::int32_t fallback);

    int writeText(const std::string &name, const std::string &text);
    int writeNumber(const std::string &name, std::int32_t value);
    int writeBytes(const std::string &name, const std::string &data);

  private:
    std::unique_ptr<SettingsBackend> backend_;
    std::uint32_t disposition_;
};

// The platform's own store: the registry key "SOFTWARE\Salvora" of the current user on
// Windows, the settings file of `settingsFilePath` elsewhere.
SettingsStore openNativeSettings(platform::Platform &os, platform::AppSystem &system);

} // namespace salvora
