// The memo side of one recovery run: the source memo, the new memo file the kept records'
// memos are carried into, and the finished copy that goes beside the output.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>

#include "engine/findings.h"
#include "engine/memofile.h"
#include "engine/putinplace.h"
#include "engine/recoveryjob.h"

namespace salvora {

inline constexpr const char *temporaryMemoName = "tmpmemo.tmp";

// Name of the output's memo file: the output's ".dbf" becomes the source memo's extension,
// in the letter case of the output's extension. Nothing when the source memo's name has no
// known extension.
std::optional<std::string> outputMemoPath(const std::string &output,
                                          const std::string &sourceMemoPath);

class RecoveryMemos {
  public:
    explicit RecoveryMemos(platform::Platform &os) : os_(os) {}
    ~RecoveryMemos();
    RecoveryMemos(const RecoveryMemos &) = delete;
    RecoveryMemos &operator=(const RecoveryMemos &) = delete;

    // Opens the table's memo file and starts the new one. Returns the error that must stop the
    // run before anything is replaced, 0 otherwise.
    platform::ErrorCode open(RecoveryJob &job);

    void carry(std::span<std::uint8_t> record, const RecoveryJob &job, FindingSink *why = nullptr,
               std::uint32_t index = 0) {
        if (temporary_)
            transfer(record, job, why, index);
    }
    platform::ErrorCode writeError() const;
    void closeSource(RecoveryJob &job);

    // Makes the finished memo file beside its target. `item` stays empty when the output gets
    // no memo file.
    platform::ErrorCode prepareOutput(const std::string &output, bool inPlace,
                                      platform::FileTime workWriteTime,
                                      std::optional<FinishedFile> &item);
    void markInstalled() { prepared_.clear(); }

  private:
    void transfer(std::span<std::uint8_t> record, const RecoveryJob &job, FindingSink *why,
                  std::uint32_t index);

    platform::Platform &os_;
    bool hasSource_ = false;
    std::uint8_t tableType_ = 0;
    std::string sourcePath_;
    std::unique_ptr<MemoFile> temporary_;
    bool temporaryCreated_ = false;
    std::string prepared_;
};

} // namespace salvora
