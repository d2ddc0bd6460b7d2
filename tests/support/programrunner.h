// Runs a program with an exact argument vector and collects its exit code and output.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace salvora::testing {

struct ProgramResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

struct ProgramRun {
    std::string program;
    std::vector<std::string> arguments;
    std::string workingFolder;              // empty: the test's own
    std::map<std::string, std::string> env; // set on top of the test's environment
};

ProgramResult runProgram(const ProgramRun &run);

} // namespace salvora::testing
