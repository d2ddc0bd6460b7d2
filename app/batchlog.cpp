#include "app/batchlog.h"

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

bool BatchLog::skipSecondName(const std::string &path) {
    std::optional<std::string> first = seen_.firstNameOf(path);
    if (!first)
        return false;
    line(formatText("%s: Skipped: same table as %s\r\n", path, *first));
    return true;
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

void BatchLog::line(const std::string &text) {
    log_.write(text);
    app_.standardOutput.write(text);
}

void recoverInPlace(AppContext &app, BatchLog &log, const std::string &path) {
    if (log.skipSecondName(path))
        return;
    RecoveryOutcome outcome = recoverTable(app, path, path);
    log.repaired(path);
    log.table(path, outcome);
}

} // namespace salvora
