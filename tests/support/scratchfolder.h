// A fresh folder for tests that repair many tables: in memory when the system offers a
// memory file system, so that the durable flush at the end of every run costs nothing.
#pragma once

#include <string>

namespace salvora::testing {

class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    // Removes everything inside, keeping the folder.
    void empty() const;

  private:
    std::string path_;
};

} // namespace salvora::testing
