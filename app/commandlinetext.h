// The command line that performs the main window's task without the window, as the window's
// "Command Line..." shows it and saves it as a batch file.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "engine/enginecontext.h"

namespace salvora {

// The text must fit the dialog's 4096-byte buffer with its terminator.
inline constexpr std::size_t commandLineCapacity = 4096;

// programFolder is the running program's folder up to and including its last backslash; the
// program itself is always named salvora.exe. A folder or wildcard source becomes a batch that
// repairs in place, so it gets no output part. Nothing when the text would not fit: a command
// cut short would name a different file.
std::optional<std::string> buildCommandLineText(std::string_view programFolder,
                                                std::string_view source, std::string_view output,
                                                const RecoveryOptions &options);

// The name a batch file is saved under: ".bat" is added unless the name already ends with it.
std::string batchFileName(std::string_view chosen);

} // namespace salvora
