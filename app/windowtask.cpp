#include "app/windowtask.h"

#include "engine/textformat.h"

namespace salvora {

bool isFolderSource(std::string_view source) {
    if (source.find_first_of("*?") != std::string_view::npos)
        return true;
    for (std::string_view extension : tableExtensions)
        if (findNoCase(source, extension) != std::string_view::npos)
            return false;
    return true;
}

std::optional<WindowNames> windowStartNames(std::string_view arguments) {
    if (findNoCase(arguments, ".dbf") == std::string_view::npos)
        return std::nullopt;
    constexpr std::string_view outputSwitch = "/output:";
    std::size_t at = findNoCase(arguments, outputSwitch);
    if (at == std::string_view::npos)
        return WindowNames{std::string(arguments), std::string(arguments)};
    return WindowNames{std::string(arguments.substr(0, at == 0 ? 0 : at - 1)),
                       std::string(arguments.substr(at + outputSwitch.size()))};
}

} // namespace salvora
