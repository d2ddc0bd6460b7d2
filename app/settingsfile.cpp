#include "app/settingsfile.h"

#include <charconv>
#include <cstdint>

namespace salvora {

namespace {

// A settings file is a few kilobytes; anything far larger is not ours.
constexpr std::uint64_t maxFileSize = 1 << 20;

const char *typeWord(ValueType type) {
    switch (type) {
    case ValueType::Text:
        return "text";
    case ValueType::Number:
        return "number";
    case ValueType::Binary:
        return "bytes";
    }
    return "bytes";
}

bool validName(const std::string &name) {
    if (name.empty())
        return false;
    for (char c : name)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '_'))
            return false;
    return true;
}

std::string escaped(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescaped(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size())
            return std::nullopt;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case '0':
            out += '\0';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

const char hexDigits[] = "0123456789abcdef";

std::optional<std::string> fromHex(const std::string &text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
        if (error != std::errc() || end != text.data() + i + 2)
            return std::nullopt;
        out += static_cast<char>(value);
    }
    return out;
}

std::string dataText(const SettingsValue &value) {
    switch (value.type) {
    case ValueType::Text: {
        std::string text = value.data;
        if (!text.empty() && text.back() == '\0')
            text.pop_back();
        return escaped(text);
    }
    case ValueType::Number: {
        std::uint32_t number = 0;
        for (std::size_t i = value.data.size(); i-- > 0;)
            number = number << 8 | static_cast<unsigned char>(value.data[i]);
        return std::to_string(static_cast<std::int32_t>(number));
    }
    case ValueType::Binary: {
        std::string hex;
        for (char c : value.data) {
            hex += hexDigits[static_cast<unsigned char>(c) >> 4];
            hex += hexDigits[static_cast<unsigned char>(c) & 0xF];
        }
        return hex;
    }
    }
    return {};
}

std::optional<SettingsValue> parseValue(const std::string &type, const std::string &data) {
    if (type == "text") {
        auto text = unescaped(data);
        if (!text)
            return std::nullopt;
        return SettingsValue{ValueType::Text, *text + '\0'};
    }
    if (type == "number") {
        std::int32_t number = 0;
        auto [end, error] = std::from_chars(data.data(), data.data() + data.size(), number);
        if (error != std::errc() || end != data.data() + data.size())
            return std::nullopt;
        std::string bytes(4, '\0');
        for (int i = 0; i < 4; ++i)
            bytes[static_cast<std::size_t>(i)] =
                static_cast<char>((static_cast<std::uint32_t>(number) >> (8 * i)) & 0xFF);
        return SettingsValue{ValueType::Number, bytes};
    }
    if (type == "bytes") {
        auto bytes = fromHex(data);
        if (!bytes)
            return std::nullopt;
        return SettingsValue{ValueType::Binary, *bytes};
    }
    return std::nullopt;
}

} // namespace

std::string formatSettingsFile(const std::map<std::string, SettingsValue> &values) {
    std::string text = "# Salvora settings: NAME TYPE DATA, TYPE text, number or bytes.\n";
    for (const auto &[name, value] : values)
        text += name + " " + typeWord(value.type) + " " + dataText(value) + "\n";
    return text;
}

std::map<std::string, SettingsValue> parseSettingsFile(const std::string &text) {
    std::map<std::string, SettingsValue> values;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.front() == '#')
            continue;
        std::size_t firstBlank = line.find(' ');
        std::size_t secondBlank =
            firstBlank == std::string::npos ? firstBlank : line.find(' ', firstBlank + 1);
        if (secondBlank == std::string::npos)
            continue;
        std::string name = line.substr(0, firstBlank);
        if (!validName(name))
            continue;
        auto value = parseValue(line.substr(firstBlank + 1, secondBlank - firstBlank - 1),
                                line.substr(secondBlank + 1));
        if (value)
            values[name] = *value;
    }
    return values;
}

FileSettingsBackend::FileSettingsBackend(platform::Platform &os, std::string path)
    : os_(os), path_(std::move(path)) {
    platform::OpenResult opened =
        os_.openFile(path_, {platform::Access::Read, platform::Share::Read,
                             platform::Disposition::OpenExisting});
    if (!opened)
        return;
    existed_ = true;
    std::uint64_t size = opened.file->size().value_or(0);
    if (size > maxFileSize)
        return;
    std::string text(static_cast<std::size_t>(size), '\0');
    platform::IoResult got = opened.file->read(text.data(), text.size());
    text.resize(got.bytes);
    values_ = parseSettingsFile(text);
}

std::optional<SettingsValue> FileSettingsBackend::read(const std::string &name) {
    auto found = values_.find(name);
    if (found == values_.end())
        return std::nullopt;
    return found->second;
}

int FileSettingsBackend::write(const std::string &name, const SettingsValue &value) {
    if (!validName(name))
        return platform::errorInvalidArgument();
    std::map<std::string, SettingsValue> next = values_;
    next[name] = value;
    std::string text = formatSettingsFile(next);

    platform::ErrorCode error = 0;
    auto temporary = os_.createUniqueFile(platform::folderOf(path_), "settings", &error);
    if (!temporary)
        return error != 0 ? error : platform::errorInvalidArgument();
    {
        platform::OpenResult opened =
            os_.openFile(*temporary, {platform::Access::ReadWrite, platform::Share::None,
                                      platform::Disposition::CreateAlways});
        error = opened.error;
        if (opened) {
            error = opened.file->write(text.data(), text.size()).error;
            if (error == 0)
                error = opened.file->flush();
        }
    }
    if (error == 0)
        error = os_.renameFile(*temporary, path_);
    if (error != 0) {
        os_.removeFile(*temporary);
        return error;
    }
    values_ = std::move(next);
    return 0;
}

std::string settingsFilePath(platform::AppSystem &system) {
    std::string base;
    if (auto config = system.environmentVariable("XDG_CONFIG_HOME");
        config && !config->empty() && config->front() == '/')
        base = *config;
    else if (auto home = system.environmentVariable("HOME"); home && !home->empty())
        base = *home + "/.config";
    else
        return {};
    return base + "/salvora/settings";
}

} // namespace salvora
