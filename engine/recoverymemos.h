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

// Name of the output's memo file: the output's ".dbf" becomes the source memo's extension,
// in the letter case of the output's extension. Nothing when the source memo's name has no
// known extension.
std::optional<std::string> outputMemoPath(const std::string &output,
                                          const std::string &sourceMemoPath);

class WorkFileListings;

class RecoveryMemos {
  public:
    explicit RecoveryMemos(platform::Platform &os, WorkFileListings *listings = nullptr)
        : os_(os), listings_(listings) {}
    ~RecoveryMemos();
    RecoveryMemos(const RecoveryMemos &) = delete;
    RecoveryMemos &operator=(const RecoveryMemos &) = delete;

    // Opens the table's memo file and starts the new one beside where it will go: beside the
    // source memo when `sameTable` (the output is the source itself), else beside `output`.
    // Returns the error that must stop the run before anything is replaced, 0 otherwise;
    // `refusal()` then says why when the system did not.
    platform::ErrorCode open(RecoveryJob &job, const std::string &output, bool sameTable);
    const std::string &refusal() const { return refusal_; }

    void carry(std::span<std::uint8_t> record, const RecoveryJob &job, FindingSink *why = nullptr,
               std::uint32_t index = 0) {
        if (temporary_)
            transfer(record, job, why, index);
    }
    // References cleared because their memo could not be read.
    std::uint64_t unreadableMemos() const { return unreadableMemos_; }
    // Writes out what is still buffered first.
    platform::ErrorCode writeError();
    void closeSource(RecoveryJob &job);

    // Makes the finished memo file beside its target, with the source memo's mode and owner
    // when it replaces it, else `newFile`. `item` stays empty when the output gets no memo.
    // With `keepOld` an unchanged memo in place is copied too, so that the old one can be kept.
    platform::ErrorCode prepareOutput(platform::FileTime workWriteTime,
                                      const platform::FileAttributes &newFile,
                                      std::optional<FinishedFile> &item, bool keepOld = false);
    void markInstalled() {
        prepared_.clear();
        workPath_.clear();
    }

  private:
    void transfer(std::span<std::uint8_t> record, const RecoveryJob &job, FindingSink *why,
                  std::uint32_t index);

    platform::Platform &os_;
    WorkFileListings *listings_;
    bool hasSource_ = false;
    std::uint8_t tableType_ = 0;
    std::string sourcePath_;
    bool sameTable_ = false;
    std::optional<std::string> target_;
    std::unique_ptr<MemoFile> temporary_;
    std::string workPath_;
    std::string prepared_;
    std::string refusal_;
    std::uint64_t unreadableMemos_ = 0;
};

} // namespace salvora
