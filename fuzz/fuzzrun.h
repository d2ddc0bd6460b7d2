// One fuzz input run through the engine in a folder of its own, with the checks that must hold
// whatever the input: shared by the fuzz targets and by the replay in the unit tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace salvora::fuzz {

// A whole recovery run of the decoded table (and memo) to a new name or in place. Returns ""
// when every check held, otherwise what went wrong.
std::string runRecoveryInput(const std::uint8_t *data, std::size_t size);

// Structure analysis of the decoded table alone.
std::string runAnalysisInput(const std::uint8_t *data, std::size_t size);

} // namespace salvora::fuzz
