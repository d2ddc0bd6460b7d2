#include "app/singlefile.h"

#include "app/enginerun.h"
#include "app/outcometext.h"
#include "app/reportfile.h"
#include "app/resultlog.h"
#include "engine/nametemplates.h"
#include "engine/textformat.h"
#include "engine/worknames.h"

namespace salvora {

std::string logNameFor(const std::string &outputName) {
    std::size_t at = lastDbfOfFileName(outputName);
    if (at == std::string::npos)
        return outputName + ".log";
    return outputName.substr(0, at) + ".log";
}

bool expandOutputName(std::string &name, const platform::LocalTime &now, std::string &error) {
    return expandDateTemplate(name, now, &error) && expandTimeTemplate(name, now, &error);
}

namespace {

// The report's summary also says how the run ended, and why when it never saw the table.
// False when the report could not be written whole.
bool finishReport(AppContext &app, ReportSetUp &setUp, const std::string &reportName,
                  const RecoveryOutcome &outcome) {
    EngineContext &engine = app.engine;
    if (outcome.result == recoveryUnusable && !setUp.report->hasTable())
        setUp.report->unreadable(outcome.systemError != 0 ? engine.os.errorText(outcome.systemError)
                                                          : outcome.message);
    setUp.report->result(outcomeText(engine.os, outcome, OutcomeWording::ResultLog));
    setUp.report->close();
    if (!setUp.file)
        return false;
    if (platform::ErrorCode error = setUp.file->close(); error != 0) {
        app.standardError.write(formatText("%s: %s\r\n", reportName, engine.os.errorText(error)));
        return false;
    }
    return true;
}

} // namespace

int runSingleFile(AppContext &app, const std::string &source,
                  const std::optional<std::string> &output,
                  const std::optional<std::string> &report) {
    EngineContext &engine = app.engine;
    std::string outputName = output.value_or(source);
    std::string expanded = outputName;
    std::string error;
    bool nameUsable = expandOutputName(expanded, engine.os.localTime(), error);

    // The log is named from the output as typed, before its templates.
    std::string logName = logNameFor(outputName);
    app.options.detailedLog = 0;
    ResultLog log(engine.os, logName, false);
    if (log.error() == platform::errorLinkRefused())
        app.standardError.write(
            formatText("%s: %s\r\n", logName, engine.os.errorText(log.error())));

    RecoveryRequest request = recoveryRequest(app, source, expanded);
    std::optional<ReportSetUp> reporting;
    if (report) {
        reporting = setUpReport(engine.os, source, report, false);
        if (!reporting->problem.empty())
            app.standardError.write(reporting->problem + "\r\n");
        request.report = reporting->report.get();
    }

    RecoveryOutcome outcome;
    if (nameUsable) {
        ConsoleRunObserver console(app);
        outcome = runRecovery(engine, request, console);
    } else {
        app.standardError.write(formatText("%s: %s\r\n", outputName, error));
        outcome.failure = error;
    }
    // The repair stands, but a report that was asked for and not written is a failure.
    bool reportWritten = !reporting || finishReport(app, *reporting, *report, outcome);

    std::string line =
        resultLine(source, outcomeText(engine.os, outcome, OutcomeWording::ResultLog));
    log.write(line);
    app.standardOutput.write(line);
    return outcome.result == recoveryFixed && reportWritten ? 0 : 1;
}

} // namespace salvora
