// On Windows the settings live in the registry key of the current user.
#include "app/settings.h"
#include "platform/registry.h"

namespace salvora {

namespace {

class RegistryBackend final : public SettingsBackend {
  public:
    explicit RegistryBackend(std::unique_ptr<platform::RegistryKey> key) : key_(std::move(key)) {}

    std::optional<SettingsValue> read(const std::string &name) override {
        auto data = key_->query(name);
        if (!data)
            return std::nullopt;
        ValueType type = data->type == platform::RegistryType::Text     ? ValueType::Text
                         : data->type == platform::RegistryType::Number ? ValueType::Number
                                                                        : ValueType::Binary;
        return SettingsValue{type, data->bytes};
    }

    int write(const std::string &name, const SettingsValue &value) override {
        platform::RegistryType type = value.type == ValueType::Text ? platform::RegistryType::Text
                                      : value.type == ValueType::Number
                                          ? platform::RegistryType::Number
                                          : platform::RegistryType::Binary;
        return key_->set(name, {type, value.data});
    }

  private:
    std::unique_ptr<platform::RegistryKey> key_;
};

} // namespace

SettingsStore openNativeSettings(platform::Platform &, platform::AppSystem &) {
    std::uint32_t disposition = 0;
    auto key = platform::RegistryKey::openCurrentUser("SOFTWARE\\Salvora", disposition);
    if (!key)
        return SettingsStore(nullptr, settingsOpenFailed);
    return SettingsStore(std::make_unique<RegistryBackend>(std::move(key)), disposition);
}

} // namespace salvora
