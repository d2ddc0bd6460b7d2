// Names of the files a run makes beside the files it replaces, and of the files it derives
// from a table's name.
#pragma once

#include <string>

#include "platform/platform.h"

namespace salvora {

// ".t.dbf.salvora-": a work file for `target` is this and six random characters, so that it
// is plainly ours and plainly belongs to that one file.
std::string workFilePrefix(const std::string &target);

// ".sv" and a hash of the file name: for a target whose name leaves no room for the long form
// within the system's limits.
std::string shortWorkFilePrefix(const std::string &target);

class WorkFileListings;

// Removes the work files of `target` whose owner is gone: a live run holds its work files
// locked, so a file that can be locked has no owner any more. With `listings` the folder is
// looked at as the batch first listed it.
void removeStaleWorkFiles(platform::Platform &os, const std::string &target,
                          WorkFileListings *listings = nullptr);

// Removes stale work files of `target` and makes a new one beside it, held and private;
// `path` receives its name.
platform::OpenResult createWorkFileFor(platform::Platform &os, const std::string &target,
                                       std::string &path, WorkFileListings *listings = nullptr);

// Where the last ".dbf" (any case) of the file name starts; npos when it has none. Folders
// never count: "old.dbf.d/t.dbf" has its ".dbf" in "t.dbf".
std::size_t lastDbfOfFileName(const std::string &path);

} // namespace salvora
