// The log of a command-line batch: "recovery.log" in the batch folder, the banner line first
// and then one line per table, each shown on standard output as well. It also keeps the
// score for the exit code.
#pragma once

#include <string>

#include "app/appcontext.h"
#include "app/batchfilelist.h"
#include "app/resultlog.h"
#include "app/seentables.h"
#include "engine/recovery.h"

namespace salvora {

class BatchLog {
  public:
    // `folderPart` is empty for the current folder. Held without sharing until destroyed.
    BatchLog(AppContext &app, const std::string &folderPart, bool append);

    // One run's result.
    void table(const std::string &path, const RecoveryOutcome &outcome);
    void unreadableFolder(const std::string &folder, platform::ErrorCode error);
    // A folder the walk did not enter because it is already on the way down to it.
    void folderLoop(const std::string &folder);
    // The first name of the table behind `path` when the batch has had it before.
    std::optional<std::string> firstNameOf(const std::string &path) {
        return seen_.firstNameOf(path);
    }
    void skipped(const std::string &path, const std::string &firstName);
    void repaired(const std::string &path, std::optional<platform::FileIdentity> identity) {
        seen_.repaired(path, identity);
    }

    // The lines from `holdLines` on go to the log and standard output in one piece each at
    // `releaseLines`.
    void holdLines();
    void releaseLines();

    // 0 when every table came out "OK", 1 when anything did not, 2 when there was nothing.
    int exitCode() const;

  private:
    void line(const std::string &text);

    AppContext &app_;
    ResultLog log_;
    SeenTables seen_;
    int fixed_ = 0;
    int failed_ = 0;
};

// Repairs every item in place, `app.batchJobs` at a time, and reports each in `log`.
void recoverItems(AppContext &app, BatchLog &log, const BatchFileList &items);

} // namespace salvora
