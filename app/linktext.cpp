#include "app/linktext.h"

namespace salvora {

std::string linkLabel(std::string_view windowText) {
    return std::string(windowText.substr(0, windowText.find('#')));
}

std::string linkTarget(std::string_view windowText) {
    std::size_t hash = windowText.find('#');
    if (hash != std::string_view::npos)
        return std::string(windowText.substr(hash + 1));
    if (windowText.find('@') != std::string_view::npos)
        return "mailto:" + std::string(windowText);
    return std::string(windowText);
}

} // namespace salvora
