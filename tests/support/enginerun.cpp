#include "tests/support/enginerun.h"

#include "app/folderrun.h"
#include "app/windowrun.h"
#include "resources/resource.h"

namespace salvora::testing {

RecoveryRequest EngineRun::request(const std::string &source, const std::string &output) const {
    RecoveryRequest request;
    request.source = source;
    request.output = output;
    request.options = options;
    request.tableTemplate = tableTemplate;
    request.report = report;
    request.texts = texts;
    return request;
}

int EngineRun::run(RunWindow *window, const std::string &source, const std::string &output,
                   bool folderMode) {
    ConsoleRunObserver console(consoleOut, progress, ownerlessMessage);
    if (!window) {
        outcome = runRecovery(engine, request(source, output), console);
    } else if (folderMode) {
        RecoveryRequest table = request(source, output);
        table.keepDeleted = window->isChecked(IDC_KEEP_DELETED);
        WindowRunObserver observer(*window, WindowRunKind::Folder, console);
        outcome = runRecovery(engine, table, observer);
    } else {
        WindowNames names = boxNames(*window);
        lastOutput = names.output;
        outcome = runWindowTable(engine, *window, request(names.source, names.output), console);
    }
    messageText = outcome.message;
    lastError = outcome.systemError;
    return outcome.result;
}

CheckVerdict EngineRun::check(const std::string &source, RunReport &checkReport) {
    ConsoleRunObserver console(consoleOut, progress, ownerlessMessage);
    return checkTable(engine, request(source, source), checkReport, console);
}

} // namespace salvora::testing
