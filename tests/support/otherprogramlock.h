// Another program that holds a POSIX record lock on part of a file, as an xBase program does
// while it appends. A process of its own: such a lock goes as soon as its owner closes any
// descriptor of the file, as a test reading the file would. POSIX only.
#pragma once

#include <string>

namespace salvora::testing {

class OtherProgramLock {
  public:
    // `exclusive`: a write lock, else a read lock, on the first `length` bytes.
    OtherProgramLock(const std::string &path, bool exclusive, long length = 32);
    ~OtherProgramLock();
    OtherProgramLock(const OtherProgramLock &) = delete;
    OtherProgramLock &operator=(const OtherProgramLock &) = delete;

    bool holding() const { return holding_; }

  private:
    int child_ = -1;
    bool holding_ = false;
};

} // namespace salvora::testing
