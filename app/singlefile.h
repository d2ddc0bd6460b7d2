// The single-file run of the command line: one table, repaired in place or into the
// "/output:" name, with its own result log.
#pragma once

#include <optional>
#include <string>

#include "app/appcontext.h"

namespace salvora {

// The log beside the output: its first ".dbf" (any case) and what follows become ".log";
// a name without ".dbf" gets ".log" added, so that the log never overwrites the table.
std::string logNameFor(const std::string &outputName);

// Expands the output name's date and then time templates; false with `error` set when the
// result would be unusable.
bool expandOutputName(std::string &name, const platform::LocalTime &now, std::string &error);

// Returns the exit code: 0 when the table came out "OK", 1 otherwise. With `report` every
// finding of the run and its summary go to that file as well.
int runSingleFile(AppContext &app, const std::string &source,
                  const std::optional<std::string> &output,
                  const std::optional<std::string> &report = std::nullopt);

} // namespace salvora
