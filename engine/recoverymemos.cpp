#include "engine/recoverymemos.h"

#include "engine/memotransfer.h"
#include "engine/runstages.h"
#include "engine/tableformat.h"
#include "engine/textformat.h"

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
    std::size_t at = findNoCase(output, ".dbf", nameStart);
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
    if (temporaryCreated_)
        os_.removeFile(temporaryMemoName);
    if (!prepared_.empty())
        os_.removeFile(prepared_);
}

platform::ErrorCode RecoveryMemos::open(RecoveryJob &job) {
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
    hasSource_ = true;
    sourcePath_ = job.sourceMemo->path;
    if (!carriesMemos(tableType_))
        return 0;

    platform::ErrorCode error = 0;
    temporary_ = openMemo(os_, temporaryMemoName, tableType_, true, true, table, &error, true);
    if (!temporary_->isOpen())
        return error != 0 ? error : platform::errorInvalidArgument();
    temporaryCreated_ = true;
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
    transferMemos(record, job, *job.sourceMemo, *temporary_, why, index);
}

platform::ErrorCode RecoveryMemos::writeError() const {
    return temporary_ ? temporary_->writeError : 0;
}

void RecoveryMemos::closeSource(RecoveryJob &job) {
    job.sourceMemo.reset();
}

platform::ErrorCode RecoveryMemos::prepareOutput(const std::string &output, bool inPlace,
                                                 platform::FileTime workWriteTime,
                                                 std::optional<FinishedFile> &item) {
    item.reset();
    if (!hasSource_)
        return 0;
    std::string target;
    std::string from;
    if (inPlace) {
        if (!temporary_)
            return 0; // references unchanged: the memo file stays as it is
        target = sourcePath_;
        from = temporaryMemoName;
    } else {
        std::optional<std::string> name = outputMemoPath(output, sourcePath_);
        if (!name)
            return 0;
        target = *name;
        from = temporary_ ? std::string(temporaryMemoName) : sourcePath_;
    }
    if (!temporary_ && !os_.getAttributes(sourcePath_))
        return 0; // no memo file to carry over
    if (temporary_) {
        if (platform::ErrorCode error = temporary_->handle->flush(); error != 0)
            return error;
        temporary_.reset();
    }

    platform::ErrorCode error = 0;
    std::optional<std::string> prepared =
        os_.createUniqueFile(platform::folderOf(target), "uuu", &error);
    if (!prepared)
        return error;
    prepared_ = *prepared;
    if (error = os_.copyFile(from, prepared_); error != 0)
        return error;
    if (from == sourcePath_)
        stampFileTimes(os_, prepared_, workWriteTime);
    item = FinishedFile{prepared_, target};
    return 0;
}

} // namespace salvora
