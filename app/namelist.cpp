#include "app/namelist.h"

#include <memory>
#include <utility>

#include "app/console.h"
#include "app/enginerun.h"
#include "app/outcometext.h"
#include "app/resultlog.h"
#include "app/seentables.h"
#include "engine/enginelog.h"
#include "engine/textformat.h"

namespace salvora {

namespace {

// One log per folder, opened when its first table comes up.
class FolderLogs {
  public:
    FolderLogs(platform::Platform &os, bool append) : os_(os), append_(append) {}

    ResultLog &forTable(const std::string &table) {
        std::string folder = platform::folderOf(table);
        for (auto &[name, log] : logs_)
            if (name == folder)
                return *log;
        auto log =
            std::make_unique<ResultLog>(os_, platform::joinPath(folder, engineLogName), append_);
        log->write(bannerLine());
        logs_.emplace_back(folder, std::move(log));
        return *logs_.back().second;
    }

  private:
    platform::Platform &os_;
    bool append_;
    std::vector<std::pair<std::string, std::unique_ptr<ResultLog>>> logs_;
};

} // namespace

int runNameListBatch(AppContext &app, const std::vector<std::string> &names, bool append) {
    EngineContext &engine = app.engine;
    app.options.detailedLog = 0;
    FolderLogs logs(engine.os, append);
    SeenTables seen(engine.os);
    bool allFixed = true;
    for (const auto &name : names) {
        ResultLog &log = logs.forTable(name);
        if (std::optional<std::string> first = seen.firstNameOf(name)) {
            std::string line = formatText("%s: Skipped: same table as %s\r\n", name, *first);
            log.write(line);
            app.standardOutput.write(line);
            continue;
        }
        RecoveryOutcome outcome = recoverTable(app, name, name);
        seen.repaired(name);
        allFixed = allFixed && outcome.result == recoveryFixed;
        std::string line =
            resultLine(name, outcomeText(engine.os, outcome, OutcomeWording::ResultLog));
        log.write(line);
        app.standardOutput.write(line);
    }
    return allFixed ? 0 : 1;
}

} // namespace salvora
