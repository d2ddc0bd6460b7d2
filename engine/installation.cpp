#include "engine/installation.h"

namespace salvora {

platform::ErrorCode installFiles(platform::Platform &os, const InstallItem &table,
                                 const std::optional<InstallItem> &memo) {
    if (!memo)
        return os.renameFile(table.finished, table.target);

    std::optional<platform::FileAttributes> oldAttributes = os.getAttributes(memo->target);
    std::optional<std::string> backup;
    if (oldAttributes) {
        platform::ErrorCode error = 0;
        backup = os.createUniqueFile(platform::folderOf(memo->target), "uuu", &error);
        if (!backup)
            return error;
        // Windows refuses to rename a read-only file over another.
        if (oldAttributes->readOnly)
            os.setReadOnly(memo->target, false);
        error = os.renameFile(memo->target, *backup);
        if (error != 0) {
            os.removeFile(*backup);
            if (oldAttributes->readOnly)
                os.setAttributes(memo->target, *oldAttributes);
            return error;
        }
    }
    auto restoreOldMemo = [&] {
        if (backup) {
            os.renameFile(*backup, memo->target);
            os.setAttributes(memo->target, *oldAttributes);
        }
    };
    platform::ErrorCode error = os.renameFile(memo->finished, memo->target);
    if (error != 0) {
        restoreOldMemo();
        return error;
    }
    error = os.renameFile(table.finished, table.target);
    if (error != 0) {
        os.removeFile(memo->target);
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
