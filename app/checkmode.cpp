#include "app/checkmode.h"

#include "app/enginerun.h"
#include "app/reportfile.h"
#include "engine/tablecheck.h"
#include "engine/textformat.h"

namespace salvora {

int runCheck(AppContext &app, const std::string &source, const std::optional<std::string> &report) {
    EngineContext &engine = app.engine;
    if (report && reportWouldOverwrite(engine.os, *report, source, std::nullopt)) {
        app.standardError.write(
            formatText("%s: the report would overwrite a file of the run\r\n", *report));
        return exitCheckUnreadable;
    }
    ReportSetUp setUp = setUpReport(engine.os, source, report, true);
    if (!setUp.problem.empty())
        app.standardError.write(setUp.problem + "\r\n");

    ConsoleRunObserver console(app);
    CheckVerdict verdict =
        checkTable(engine, recoveryRequest(app, source, source), *setUp.report, console);
    setUp.report->close();
    if (setUp.file) {
        if (platform::ErrorCode error = setUp.file->close(); error != 0)
            app.standardError.write(formatText("%s: %s\r\n", *report, engine.os.errorText(error)));
    }
    app.standardOutput.write(setUp.report->summaryText());
    switch (verdict) {
    case CheckVerdict::Sound:
        return exitCheckSound;
    case CheckVerdict::NeedsRepair:
        return exitCheckNeedsRepair;
    case CheckVerdict::Unreadable:
        break;
    }
    return exitCheckUnreadable;
}

} // namespace salvora
