// What the main window makes of its names: whether a source is one table or a folder run,
// and the names a window start carries in its argument text.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace salvora {

// A source holding any of these (case-insensitive) names a single table.
inline constexpr std::array<std::string_view, 9> tableExtensions = {
    ".dbf", ".dbc", ".FRX", ".LBX", ".DBC", ".SCX", ".VCX", ".MNX", ".PJX"};

// True when Start hands the source to the folder run: it has a wildcard or names no table.
bool isFolderSource(std::string_view source);

struct WindowNames {
    std::string source;
    std::string output;
};

// The names a window start puts into its boxes, when the text names a ".dbf" table at all.
// "x.dbf /output:y.dbf" gives x.dbf and y.dbf (the character before "/output:" is dropped);
// without "/output:" both are the whole text.
std::optional<WindowNames> windowStartNames(std::string_view arguments);

} // namespace salvora
