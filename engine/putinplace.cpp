#include "engine/putinplace.h"

namespace salvora {

platform::ErrorCode putInPlace(platform::Platform &os, const FinishedFile &table,
                               const std::optional<FinishedFile> &memo) {
    if (!memo)
        return os.renameFile(table.finished, table.target);

    // The old memo is copied aside, not moved: its name never stands empty, and the copy is
    // what puts it back should the table fail to follow.
    std::optional<platform::FileAttributes> oldAttributes = os.getAttributes(memo->target);
    std::optional<std::string> backup;
    if (oldAttributes) {
        platform::ErrorCode error = 0;
        backup = os.createUniqueFile(platform::folderOf(memo->target), "uuu", &error);
        if (!backup)
            return error;
        error = os.copyFile(memo->target, *backup);
        if (error != 0) {
            os.removeFile(*backup);
            return error;
        }
        // Windows refuses to rename a file over a read-only one.
        if (oldAttributes->readOnly)
            os.setReadOnly(memo->target, false);
    }
    auto restoreOldMemo = [&] {
        if (backup) {
            os.renameFile(*backup, memo->target);
            os.setAttributes(memo->target, *oldAttributes);
        } else {
            os.removeFile(memo->target);
        }
    };
    platform::ErrorCode error = os.renameFile(memo->finished, memo->target);
    if (error != 0) {
        if (backup) {
            os.removeFile(*backup);
            os.setAttributes(memo->target, *oldAttributes);
        }
        return error;
    }
    error = os.renameFile(table.finished, table.target);
    if (error != 0) {
        restoreOldMemo();
        return error;
    }
    if (backup) {
        os.setAttributes(memo->target, *oldAttributes);
        os.removeFile(*backup);
    }
    return 0;
}

} // namespace salvora
