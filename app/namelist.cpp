#include "app/namelist.h"

#include <memory>
#include <utility>

#include "app/batchjobs.h"
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

// Each name's log is opened when its turn comes, its line written when the table is done.
class NamedTables final : public BatchEntries {
  public:
    NamedTables(AppContext &app, const std::vector<std::string> &names, bool append)
        : app_(app), names_(names), logs_(app.engine.os, append), seen_(app.engine.os),
          folderLogs_(names.size()), firstNames_(names.size()) {}

    std::size_t count() const override { return names_.size(); }
    const std::string *tableAt(std::size_t index) const override { return &names_[index]; }
    bool take(std::size_t index) override {
        folderLogs_[index] = &logs_.forTable(names_[index]);
        firstNames_[index] = seen_.firstNameOf(names_[index]);
        return !firstNames_[index];
    }
    void finish(std::size_t index, const TableRun *run) override {
        const std::string &name = names_[index];
        std::string line;
        if (firstNames_[index]) {
            line = formatText("%s: Skipped: same table as %s\r\n", name, *firstNames_[index]);
        } else if (run) {
            seen_.repaired(name, run->tableAfter);
            allFixed_ = allFixed_ && run->outcome.result == recoveryFixed;
            line = resultLine(name,
                              outcomeText(app_.engine.os, run->outcome, OutcomeWording::ResultLog));
        }
        folderLogs_[index]->write(line);
        app_.standardOutput.write(line);
    }
    bool allFixed() const { return allFixed_; }

  private:
    AppContext &app_;
    const std::vector<std::string> &names_;
    FolderLogs logs_;
    SeenTables seen_;
    std::vector<ResultLog *> folderLogs_;
    std::vector<std::optional<std::string>> firstNames_;
    bool allFixed_ = true;
};

} // namespace

int runNameListBatch(AppContext &app, const std::vector<std::string> &names, bool append) {
    app.options.detailedLog = 0;
    NamedTables tables(app, names, append);
    runBatchEntries(app, tables, app.batchJobs);
    return tables.allFixed() ? 0 : 1;
}

} // namespace salvora
