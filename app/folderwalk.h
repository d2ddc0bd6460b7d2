// The walk of a recursive batch over a folder tree.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/batchfilelist.h"
#include "platform/platform.h"

namespace salvora {

// Every file under a folder whose name matches a mask, depth first: the files of each
// subfolder's whole tree, subfolder by subfolder, before the folder's own files; within a
// folder in the listing's order. Every subfolder is entered whatever its name, hidden ones and
// links to folders (junctions on Windows) too, unless the folder is already on the way down to
// it: that one is given as a folder loop instead, so the walk ends and nothing is left out
// unsaid. A folder is listed only when the walk comes to it, so a batch can start on the
// first tables while the rest of the tree is still to be listed.
class FolderWalk {
  public:
    // `folder` may be empty for the current folder.
    FolderWalk(platform::Platform &os, std::string folder, std::string mask);

    // The next file, unreadable folder or folder loop; nothing once the walk is over.
    std::optional<BatchFileItem> next();

  private:
    struct Level {
        std::string folder;
        std::vector<platform::DirectoryEntry> entries;
        std::size_t position = 0;
        bool inSubfolders = true;
        bool onTheWay = false; // its identity is on `onTheWay_`
    };
    // Lists `folder` and goes down into it; the item to give when it cannot be listed.
    std::optional<BatchFileItem> enter(const std::string &folder);

    platform::Platform &os_;
    std::string top_;
    std::string mask_;
    bool started_ = false;
    std::vector<Level> levels_;
    // The folders from the top down to the current one: a linked folder among them would
    // lead round in a circle for ever.
    std::vector<platform::FileIdentity> onTheWay_;
};

// The whole walk from `folder`, appended to `list`.
void collectFiles(platform::Platform &os, const std::string &folder, const std::string &mask,
                  BatchFileList &list);

} // namespace salvora
