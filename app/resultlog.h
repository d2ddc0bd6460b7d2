// The result logs of the command line: one "name: OK" or "name: Unrecoverable" line per
// table, CR LF ended, written through the platform layer.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace salvora {

// "name: word" with its line end; the word from `outcomeText`.
std::string resultLine(const std::string &name, const std::string &word);

// A log file that may be missing: failures to create or write it are not reported.
class ResultLog {
  public:
    // `append` keeps an existing file and adds at its end.
    ResultLog(platform::Platform &os, const std::string &path, bool append);
    void write(const std::string &text);
    // What is written from `hold` on goes to the file in one piece at `release`.
    void hold() { held_ = true; }
    void release();
    bool isOpen() const { return file_ != nullptr; }
    platform::ErrorCode error() const { return error_; }

  private:
    std::unique_ptr<platform::FileHandle> file_;
    platform::ErrorCode error_ = 0;
    bool held_ = false;
    std::string pending_;
};

} // namespace salvora
