#include "app/settings.h"

namespace salvora {

namespace {

std::string littleEndian(std::uint32_t value) {
    std::string data(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return data;
}

} // namespace

std::optional<std::string> SettingsStore::readValue(const std::string &name, std::size_t size) {
    if (!backend_)
        return std::nullopt;
    std::optional<SettingsValue> value = backend_->read(name);
    if (!value || value->data.size() > size)
        return std::nullopt;
    return value->data;
}

std::optional<std::string> SettingsStore::readText(const std::string &name, std::size_t size) {
    std::optional<std::string> data = readValue(name, size);
    if (!data)
        return std::nullopt;
    // Up to the first zero byte: a text stored without its terminator still reads whole.
    return data->substr(0, data->find('\0'));
}

std::int32_t SettingsStore::readNumber(const std::string &name, std::int32_t fallback) {
    std::optional<std::string> data = readValue(name, 4);
    if (!data || data->size() != 4) {
        writeNumber(name, fallback);
        return fallback;
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>((*data)[static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(value);
}

int SettingsStore::writeText(const std::string &name, const std::string &text) {
    if (!backend_)
        return 1;
    return backend_->write(name, {ValueType::Text, text + '\0'});
}

int SettingsStore::writeNumber(const std::string &name, std::int32_t value) {
    if (!backend_)
        return 1;
    return backend_->write(name,
                           {ValueType::Number, littleEndian(static_cast<std::uint32_t>(value))});
}

int SettingsStore::writeBytes(const std::string &name, const std::string &data) {
    if (!backend_)
        return 1;
    return backend_->write(name, {ValueType::Binary, data});
}

} // namespace salvora
