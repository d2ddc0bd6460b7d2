// Whether the in-place runs of two tables of a batch may touch the same files: the memo, the
// journal and the work files of a table lie beside the real table and are named from it.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

#include "platform/platform.h"

namespace salvora {

class TableFiles {
  public:
    // `path` as the batch names it; links are followed to the real table.
    TableFiles(platform::Platform &os, const std::string &path);
    // The files of the table at `realPath`, a path with no link in it.
    static TableFiles ofRealPath(const std::string &realPath);
    bool overlaps(const TableFiles &other) const;
    // The real folder, in lower case.
    const std::string &folder() const { return folder_; }

  private:
    TableFiles() = default;
    void setRealPath(const std::string &real);
    friend class FilesInUse;
    std::string folder_;
    // The file name up to its first '.', in lower case ("x" for x.dbf, X.FPT, x.dbf.bak).
    std::string stem_;
    // A name beginning with a dot may be another table's work file or journal, and a very long
    // one has its work files named from a hash: such a table waits for its whole folder.
    bool wholeFolder_ = false;
};

// The files of the tables a batch has under way, so that the next table's overlap with any of
// them is answered at once and not by a comparison with each.
class FilesInUse {
  public:
    // Whether `files` overlaps a table added and not yet removed.
    bool overlaps(const TableFiles &files) const;
    void add(const TableFiles &files);
    void remove(const TableFiles &files);

  private:
    struct Folder {
        std::size_t tables = 0;
        std::size_t wholeFolder = 0;
        std::unordered_map<std::string, std::size_t> stems;
    };
    std::unordered_map<std::string, Folder> folders_;
};

} // namespace salvora
