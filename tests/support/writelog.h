// A platform that forwards to another and notes, in order, how many bytes every write and
// every copy put on disk: where a disk could fill up during a run.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tests/support/forwardingplatform.h"

namespace salvora::testing {

class WriteLog final : public ForwardingPlatform {
  public:
    explicit WriteLog(platform::Platform &inner = platform::nativePlatform());

    // Bytes of each write and copy so far, in the order they happened.
    std::vector<std::uint64_t> sizes() const { return *sizes_; }
    void clear() { sizes_->clear(); }

    platform::OpenResult openFile(const std::string &path,
                                  const platform::OpenRequest &request) override;
    platform::ErrorCode copyFile(const std::string &from, const std::string &to) override;
    platform::OpenResult createWorkFile(const std::string &folder, const std::string &prefix,
                                        std::string &path) override;

  private:
    // Shared with open handles, which may outlive a call.
    std::shared_ptr<std::vector<std::uint64_t>> sizes_;
};

} // namespace salvora::testing
