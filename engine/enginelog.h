// "recovery.log" in the working folder: the header and the result of one run.
#pragma once

#include <memory>
#include <string_view>

#include "engine/enginecontext.h"

namespace salvora {

class EngineLog {
  public:
    // Empties an existing log. When the file cannot be made the run goes on without it; a
    // symbolic link in its place is never followed. Returns why it could not be made.
    platform::ErrorCode open(platform::Platform &os);
    void write(std::string_view text);
    void close() { file_.reset(); }
    bool isOpen() const { return file_ != nullptr; }

  private:
    std::unique_ptr<platform::FileHandle> file_;
};

inline constexpr const char *engineLogName = "recovery.log";

} // namespace salvora
