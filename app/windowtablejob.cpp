#include "app/windowtablejob.h"

#include "app/language.h"
#include "app/outcometext.h"
#include "app/windowresults.h"
#include "engine/textformat.h"
#include "resources/resource.h"

namespace salvora {

void FindingLines::write(std::string_view text) {
    if (kept_ >= keep_) {
        ++leftOut_;
        return;
    }
    ++kept_;
    text_ += text;
}

namespace {

// The report's words are the command line's whatever the window's language: programs read it.
std::string reportedMessage(std::string message, const RunTexts &texts) {
    const RunTexts english;
    if (message.starts_with(texts.analysing))
        message.replace(0, texts.analysing.size(), english.analysing);
    if (message.ends_with(texts.unknownType))
        message.replace(message.size() - texts.unknownType.size(), texts.unknownType.size(),
                        english.unknownType);
    return message;
}

} // namespace

WindowTableJob::WindowTableJob(RecoveryRequest request, bool checkOnly, std::string reportName)
    : request_(std::move(request)), checkOnly_(checkOnly), reportName_(std::move(reportName)) {}

RecoveryOutcome WindowTableJob::run(EngineContext &engine, RunObserver &observer) {
    platform::Platform &os = engine.os;
    std::optional<std::string> reportName;
    if (!reportName_.empty()) {
        std::optional<std::string> output;
        if (!checkOnly_)
            output = request_.output;
        if (reportWouldOverwrite(os, reportName_, request_.source, output))
            reportProblem_ = "the report would overwrite a file of the run";
        else
            reportName = reportName_;
    }
    setUp_ = setUpReport(os, request_.source, reportName, checkOnly_);
    if (!setUp_.problem.empty())
        reportProblem_ = setUp_.problem;
    setUp_.report->alsoAsText(&findings_);

    RecoveryOutcome outcome;
    if (checkOnly_) {
        verdict_ = checkTable(engine, request_, *setUp_.report, observer);
        outcome.cancelled = observer.cancelled();
    } else {
        RecoveryRequest request = request_;
        request.report = setUp_.report.get();
        outcome = runRecovery(engine, request, observer);
    }
    finishReport(os, outcome);
    return outcome;
}

void WindowTableJob::finishReport(platform::Platform &os, const RecoveryOutcome &outcome) {
    RunReport &report = *setUp_.report;
    if (!checkOnly_) {
        if (outcome.result == recoveryUnusable && !report.hasTable())
            report.unreadable(outcome.systemError != 0
                                  ? os.errorText(outcome.systemError)
                                  : reportedMessage(outcome.message, request_.texts));
        report.result(outcomeText(os, outcome, OutcomeWording::ResultLog));
    }
    report.close();
    if (setUp_.file)
        if (platform::ErrorCode error = setUp_.file->close(); error != 0)
            reportProblem_ = os.errorText(error);
}

std::string WindowTableJob::resultsText(AppContext &app, const RecoveryOutcome &outcome,
                                        const std::string &runText) const {
    RunTotals totals = setUp_.report ? setUp_.report->totals() : RunTotals{};
    bool cleared = request_.options.deleteInvalidMemo == 0;
    std::string text;
    if (checkOnly_) {
        text =
            checkResultsText(app, verdict_, totals, cleared, findings_.text(), findings_.leftOut());
    } else {
        text = runText;
        if (!text.empty() && text.back() != '\n')
            text += "\r\n";
        if (outcome.result == recoveryFixed)
            text += runCountsText(app, totals, cleared, request_.output);
    }
    if (!reportName_.empty()) {
        if (reportProblem_.empty())
            text += formatText(loadString(app, IDS_REPORT_WRITTEN), reportName_) + "\r\n";
        else
            text += formatText(loadString(app, IDS_REPORT_FAILED), reportProblem_) + "\r\n";
    }
    return text;
}

} // namespace salvora
