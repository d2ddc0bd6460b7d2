// The program's own English string table, for platforms without resource modules and for
// strings a language library lacks.
#pragma once

#include <string>

namespace salvora {

inline constexpr int stringToolbarButtons = 160;
inline constexpr int stringLanguageNames = 300; // 300 to 304

// Empty for an identifier the table does not have.
std::string builtInString(int id);

} // namespace salvora
