// Saving the window's command line as a batch file.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace salvora {

// Writes exactly `text`, without a line ending, replacing any file of that name. On failure
// (cannot create, disk full) returns the system's error and leaves no partial file behind.
platform::ErrorCode saveBatchFile(platform::Platform &os, const std::string &name,
                                  std::string_view text);

} // namespace salvora
