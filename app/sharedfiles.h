// Whether the in-place runs of two tables of a batch may touch the same files: the memo, the
// journal and the work files of a table lie beside the real table and are named from it.
#pragma once

#include <string>

#include "platform/platform.h"

namespace salvora {

class TableFiles {
  public:
    // `path` as the batch names it; links are followed to the real table.
    TableFiles(platform::Platform &os, const std::string &path);
    bool overlaps(const TableFiles &other) const;

  private:
    std::string folder_;
    // The file name up to its first '.', in lower case ("x" for x.dbf, X.FPT, x.dbf.bak).
    std::string stem_;
    // A name beginning with a dot may be another table's work file or journal, and a very long
    // one has its work files named from a hash: such a table waits for its whole folder.
    bool wholeFolder_ = false;
};

} // namespace salvora
