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

// What the window does beyond the repair options: check instead of repair, write a report.
struct CommandLineRun {
    bool checkOnly = false;
    // Empty when no report is asked for.
    std::string report;
};

// programFolder is the running program's folder up to and including its last backslash; the
// program itself is always named salvora.exe. A folder or wildcard source becomes a batch that
// repairs in place, so it gets no output part. Nothing when the text would not fit: a command
// cut short would name a different file. A check names no output, since it writes none; a
// folder's batch gets no report, as the window writes one for a single table only, but keeps
// /check, which the program refuses for a batch rather than repair the tables.
std::optional<std::string> buildCommandLineText(std::string_view programFolder,
                                                std::string_view source, std::string_view output,
                                                const RecoveryOptions &options,
                                                const CommandLineRun &run = {});

// The name a batch file is saved under: ".bat" is added unless the name already ends with it.
std::string batchFileName(std::string_view chosen);

} // namespace salvora
