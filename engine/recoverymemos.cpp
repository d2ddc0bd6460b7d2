#include "engine/recoverymemos.h"

#include "engine/memotransfer.h"
#include "engine/runstages.h"
#include "engine/tableformat.h"
#include "engine/textformat.h"
#include "engine/worknames.h"

namespace salvora {

std::optional<std::string> outputMemoPath(const std::string &output,
                                          const std::string &sourceMemoPath) {
    std::string memoName = sourceMemoPath.substr(platform::fileNameStart(sourceMemoPath));
    const char *extension = nullptr;
    for (const char *candidate : {"dbt", "fpt", "smt"}) {
        if (findNoCase(memoName, std::string(".") + candidate) != std::string::npos) {
            extension = candidate;
            break;
        }
    }
    if (!extension)
        return std::nullopt;

    // Only the file name is looked at: a folder called "x.dbf" is not an extension.
    std::size_t nameStart = platform::fileNameStart(output);
    std::size_t at = lastDbfOfFileName(output);
    std::size_t length = 4;
    if (at == std::string::npos) {
        at = output.rfind('.');
        if (at == std::string::npos || at < nameStart) {
            at = output.size();
            length = 0;
        } else {
            length = output.size() - at;
        }
    }
    bool upper = at + 1 < output.size() && output[at + 1] >= 'A' && output[at + 1] <= 'Z';
    std::string replacement = std::string(".") + extension;
    if (upper)
        for (char &c : replacement)
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    return output.substr(0, at) + replacement + output.substr(at + length);
}

RecoveryMemos::~RecoveryMemos() {
    temporary_.reset();
    if (!workPath_.empty())
        os_.removeFile(workPath_);
    if (!prepared_.empty())
        os_.removeFile(prepared_);
}

platform::ErrorCode RecoveryMemos::open(RecoveryJob &job, const std::string &output,
                                        bool sameTable) {
    const TableHeader &header = job.header;
    tableType_ = header.type();
    if (!tableHasMemo(tableType_, header.tableFlags()))
        return 0;
    MemoTableInfo table{tableType_, header.tableFlags(), job.sourcePath};
    platform::ErrorCode sourceError = 0;
    job.sourceMemo = openMemo(os_, job.memoName, tableType_, false, false, table, &sourceError);
    // Only a missing memo file counts as empty: one that is there but cannot be read would
    // have every reference cleared and be replaced by a file without its memos.
    if (!job.sourceMemo->isOpen() && sourceError != 0 &&
        sourceError != platform::errorFileNotFound())
        return sourceError;
    // A link to a memo that is not there is no missing memo: it is a broken table.
    if (!job.sourceMemo->isOpen() && os_.isSymbolicLink(job.sourceMemo->path)) {
        refusal_ = job.sourceMemo->path + ": the memo file's link leads nowhere";
        return sourceError;
    }
    // A header read as zeros would make every memo look lost, or another kind of memo.
    if (memoHeaderUnreadable(*job.sourceMemo)) {
        refusal_ = formatText("read errors in %s (%d bytes unreadable): its header cannot be read",
                              job.sourceMemo->path, job.sourceMemo->unreadable.bytes());
        return platform::errorInvalidArgument();
    }
    hasSource_ = true;
    sourcePath_ = job.sourceMemo->path;
    sameTable_ = sameTable;
    // Through a link the memo itself is replaced, not the link.
    if (sameTable)
        target_ = os_.resolvedPath(sourcePath_);
    else
        target_ = outputMemoPath(output, sourcePath_);
    if (!sameTable && target_) {
        // Found as the memo of another table would be: ignoring letter case, by identity.
        auto sourceIdentity = os_.identity(sourcePath_);
        auto targetIdentity = os_.identity(findBesideNoCase(os_, *target_));
        if (*target_ == sourcePath_ || (sourceIdentity && sourceIdentity == targetIdentity)) {
            refusal_ = *target_ + ": the output's memo file would be the source's memo file";
            return platform::errorInvalidArgument();
        }
    }
    if (!carriesMemos(tableType_))
        return 0;

    // Made beside the file it becomes, so that installing it is a rename.
    std::string beside = target_ ? *target_ : output;
    platform::OpenResult created = createWorkFileFor(os_, beside, workPath_, listings_);
    if (!created)
        return created.error;
    temporary_ = startMemo(std::move(created.file), workPath_, tableType_, table);
    if (tableType_ == 0x8B && job.sourceMemo->isOpen()) {
        std::uint8_t memoHeader[memoHeaderSize];
        readMemoHeader(*job.sourceMemo, memoHeader);
        temporary_->blockSize = job.sourceMemo->blockSize;
        temporary_->kind = job.sourceMemo->kind;
        // The copied header names the source's next free block; the new file starts empty.
        std::uint32_t first = static_cast<std::uint32_t>(
            (memoHeaderSize + static_cast<std::uint32_t>(temporary_->blockSize) - 1) /
            static_cast<std::uint32_t>(temporary_->blockSize));
        writeLe32(memoHeader, first);
        writeMemoHeader(*temporary_, memoHeader);
    }
    return temporary_->writeError;
}

void RecoveryMemos::transfer(std::span<std::uint8_t> record, const RecoveryJob &job,
                             FindingSink *why, std::uint32_t index) {
    unreadableMemos_ += transferMemos(record, job, *job.sourceMemo, *temporary_, why, index);
}

platform::ErrorCode RecoveryMemos::writeError() {
    return temporary_ ? flushMemo(*temporary_) : 0;
}

void RecoveryMemos::closeSource(RecoveryJob &job) {
    job.sourceMemo.reset();
}

platform::ErrorCode RecoveryMemos::prepareOutput(platform::FileTime workWriteTime,
                                                 const platform::FileAttributes &newFile,
                                                 std::optional<FinishedFile> &item, bool keepOld) {
    item.reset();
    if (!hasSource_ || !target_)
        return 0;
    if (!temporary_) {
        // References unchanged: in place the memo file stays as it is.
        if ((sameTable_ && !keepOld) || !os_.getAttributes(sourcePath_))
            return 0;
        platform::ErrorCode error = 0;
        std::optional<std::string> prepared =
            os_.createUniqueFile(platform::folderOf(*target_), "uuu", &error);
        if (!prepared)
            return error;
        prepared_ = *prepared;
        if (error = os_.copyFile(sourcePath_, prepared_); error != 0)
            return error;
        stampFileTimes(os_, prepared_, workWriteTime);
        item = FinishedFile{prepared_, *target_};
        return 0;
    }
    std::optional<platform::FileAttributes> old;
    if (sameTable_)
        old = os_.getAttributes(sourcePath_);
    if (platform::ErrorCode error = flushMemo(*temporary_); error != 0)
        return error;
    if (platform::ErrorCode error = temporary_->handle->applyAttributes(old ? *old : newFile))
        return error;
    if (platform::ErrorCode error = temporary_->handle->flush(); error != 0)
        return error;
    temporary_.reset();
    item = FinishedFile{workPath_, *target_};
    return 0;
}

} // namespace salvora
