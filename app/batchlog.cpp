#include "app/batchlog.h"

#include "app/batchjobs.h"
#include "app/console.h"
#include "app/driver.h"
#include "app/enginerun.h"
#include "app/outcometext.h"
#include "engine/enginelog.h"
#include "engine/pathpattern.h"
#include "engine/textformat.h"

namespace salvora {

BatchLog::BatchLog(AppContext &app, const std::string &folderPart, bool append)
    : app_(app), log_(app.engine.os, entryPath(folderPart, engineLogName), append),
      seen_(app.engine.os) {
    if (log_.error() == platform::errorLinkRefused())
        app.standardError.write(formatText("%s: %s\r\n", entryPath(folderPart, engineLogName),
                                           app.engine.os.errorText(log_.error())));
    log_.write(bannerLine());
}

void BatchLog::folderLoop(const std::string &folder) {
    line(formatText("Skipped: %s: folder loop\r\n", folder));
}

void BatchLog::skipped(const std::string &path, const std::string &firstName) {
    line(formatText("%s: Skipped: same table as %s\r\n", path, firstName));
}

void BatchLog::table(const std::string &path, const RecoveryOutcome &outcome) {
    if (outcome.result == recoveryFixed)
        ++fixed_;
    else
        ++failed_;
    line(resultLine(path, outcomeText(app_.engine.os, outcome, OutcomeWording::BatchLog)));
}

void BatchLog::unreadableFolder(const std::string &folder, platform::ErrorCode error) {
    ++failed_;
    line(formatText("%s: Folder skipped: %s\r\n", folder, app_.engine.os.errorText(error)));
}

int BatchLog::exitCode() const {
    if (failed_ > 0)
        return exitSomeUnrecoverable;
    return fixed_ > 0 ? exitAllFixed : exitNothingToDo;
}

void BatchLog::holdLines() {
    log_.hold();
    app_.standardOutput.hold();
}

void BatchLog::releaseLines() {
    log_.release();
    app_.standardOutput.release();
}

void BatchLog::line(const std::string &text) {
    log_.write(text);
    app_.standardOutput.write(text);
}

namespace {

class LoggedItems final : public BatchEntries {
  public:
    LoggedItems(BatchLog &log, const BatchFileList &items)
        : log_(log), items_(items), firstNames_(items.size()) {}

    std::size_t count() const override { return items_.size(); }
    const std::string *tableAt(std::size_t index) const override {
        const BatchFileItem &item = items_[index];
        return item.folderLoop || item.folderError != 0 ? nullptr : &item.path;
    }
    bool listedAsFile(std::size_t index) const override { return items_[index].listedAsFile; }
    bool take(std::size_t index) override {
        firstNames_[index] = log_.firstNameOf(items_[index].path);
        return !firstNames_[index];
    }
    void finish(std::size_t index, const TableRun *run) override {
        const BatchFileItem &item = items_[index];
        if (item.folderLoop)
            log_.folderLoop(item.path);
        else if (item.folderError != 0)
            log_.unreadableFolder(item.path, item.folderError);
        else if (firstNames_[index])
            log_.skipped(item.path, *firstNames_[index]);
        else if (run) {
            log_.repaired(item.path, run->tableAfter);
            log_.table(item.path, run->outcome);
        }
    }
    void holdLines() override { log_.holdLines(); }
    void releaseLines() override { log_.releaseLines(); }

  private:
    BatchLog &log_;
    const BatchFileList &items_;
    std::vector<std::optional<std::string>> firstNames_;
};

} // namespace

void recoverItems(AppContext &app, BatchLog &log, const BatchFileList &items) {
    LoggedItems entries(log, items);
    runBatchEntries(app, entries, app.batchJobs);
}

} // namespace salvora
