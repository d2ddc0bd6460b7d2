// printf-style formatting for the few texts the program builds, limited to %s, %d and %%.
// Formats may come from a caller's translated texts, so anything else is copied as it stands
// instead of being trusted as a conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace salvora {

using FormatArgument = std::variant<std::int64_t, std::string_view>;

std::string formatArguments(std::string_view format, const std::vector<FormatArgument> &arguments);

template <typename T> FormatArgument toFormatArgument(const T &value) {
    if constexpr (std::is_integral_v<T>)
        return static_cast<std::int64_t>(value);
    else
        return std::string_view(value);
}

template <typename... Args> std::string formatText(std::string_view format, const Args &...args) {
    return formatArguments(format, {toFormatArgument(args)...});
}

} // namespace salvora

namespace salvora {

// Case-insensitive search over ASCII letters; npos when absent, 0 for an empty needle.
std::size_t findNoCase(std::string_view text, std::string_view needle, std::size_t from = 0);

} // namespace salvora
