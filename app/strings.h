// The program's own English string table, for platforms without resource modules and for
// strings a language library lacks. The identifiers are those of resources/resource.h.
#pragma once

#include <string>

namespace salvora {

// Empty for an identifier the table does not have.
std::string builtInString(int id);
// The part of it for Check only, the report and the results box.
std::string builtInResultsString(int id);

} // namespace salvora
