// The walk of a recursive batch over a folder tree.
#pragma once

#include <string>

#include "app/batchfilelist.h"
#include "platform/platform.h"

namespace salvora {

// Appends to `list` every file under `folder` whose name matches `mask`, depth first: the
// files of each subfolder's whole tree, subfolder by subfolder, before the folder's own
// files; within a folder in the listing's order. Every subfolder is entered whatever its
// name, hidden ones and links to folders (junctions on Windows) too, unless the folder is
// already on the way down to it: that one is listed as a folder loop instead, so the walk
// ends and nothing is left out unsaid. `folder` may be empty for the current folder.
void collectFiles(platform::Platform &os, const std::string &folder, const std::string &mask,
                  BatchFileList &list);

} // namespace salvora
