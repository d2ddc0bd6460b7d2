#include "engine/textformat.h"

namespace salvora {

std::string formatArguments(std::string_view format, const std::vector<FormatArgument> &arguments) {
    std::string text;
    text.reserve(format.size() + 32);
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%' || i + 1 == format.size()) {
            text += c;
            continue;
        }
        char conversion = format[i + 1];
        if (conversion == '%') {
            text += '%';
            ++i;
        } else if ((conversion == 'd' || conversion == 's') && next < arguments.size()) {
            const FormatArgument &argument = arguments[next++];
            if (const auto *number = std::get_if<std::int64_t>(&argument))
                text += std::to_string(*number);
            else
                text += std::get<std::string_view>(argument);
            ++i;
        } else {
            text += c;
        }
    }
    return text;
}

} // namespace salvora

namespace salvora {

namespace {
char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

std::size_t findNoCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (needle.empty())
        return from <= text.size() ? from : std::string_view::npos;
    for (std::size_t i = from; i + needle.size() <= text.size(); ++i) {
        std::size_t j = 0;
        while (j < needle.size() && foldAscii(text[i + j]) == foldAscii(needle[j]))
            ++j;
        if (j == needle.size())
            return i;
    }
    return std::string_view::npos;
}

} // namespace salvora
