// Start-up, dispatch and the modes of the program: history export and clear, command-line
// processing of one table, several tables or a batch, and window mode with its shutdown.
#pragma once

#include "app/appcontext.h"
#include "app/commandline.h"

namespace salvora {

// Exit codes of the command-line modes.
inline constexpr int exitAllFixed = 0;
inline constexpr int exitSomeUnrecoverable = 1;
inline constexpr int exitNothingToDo = 2;

// The raw text where the platform has one (Windows), the argument vector elsewhere.
CommandLine readCommandLine(platform::AppSystem &system, int argc, char **argv);

// Runs the one mode the command line asks for and returns the process exit code.
int runProgram(AppContext &app, const CommandLine &line);

} // namespace salvora
