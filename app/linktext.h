// What a hyperlink control shows and opens, both read from its window text: "label#target"
// shows the label and opens the target; a text with "@" (and no "#") opens "mailto:" and the
// text; any other text is shown and opened as it stands.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace salvora {

// Window texts are read into a buffer of this size, so at most 179 characters count.
inline constexpr std::size_t linkTextBuffer = 180;

std::string linkLabel(std::string_view windowText);
std::string linkTarget(std::string_view windowText);

} // namespace salvora
