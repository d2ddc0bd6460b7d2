// A sound table of the same structure, named by the user, whose header and descriptors stand in
// for those of a source that lost its own.
#pragma once

#include <optional>
#include <string>

#include "engine/analysis.h"
#include "engine/enginecontext.h"

namespace salvora {

struct LoadedTemplate {
    std::optional<TableTemplate> table;
    // Why the template cannot serve, when `table` is empty.
    std::string problem;
};

// Reads the template only; it must be a table whose header and descriptors are sound.
LoadedTemplate loadTemplate(EngineContext &context, const std::string &path);

} // namespace salvora
