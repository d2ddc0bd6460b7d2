// A name with a wildcard in its last part, as the batches and the folder runs take
// it: the folder part (up to and including its last separator) and the mask after it.
#pragma once

#include <string>

namespace salvora {

struct PathPattern {
    std::string folderPart; // empty: the current folder
    std::string mask;
};

PathPattern splitPattern(const std::string &pattern);

// The path of an entry of `folder`, which may be empty (the current folder), end with a
// separator or be a bare drive ("C:"); no separator is doubled or added after a drive.
std::string entryPath(const std::string &folder, const std::string &name);

// What to hand the directory listing for `folder`: a bare drive means its current folder.
std::string listingFolder(const std::string &folder);

} // namespace salvora
