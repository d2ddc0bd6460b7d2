// One table from the window's Start, as the worker runs it: a repair or, with "Check only",
// a check that writes nothing; a report to the file "Write report..." named; and the text
// the results box shows afterwards.
#pragma once

#include <optional>
#include <string>

#include "app/appcontext.h"
#include "app/reportfile.h"
#include "engine/tablecheck.h"

namespace salvora {

// The first findings as plain-text lines; the rest are only counted.
class FindingLines final : public TextSink {
  public:
    explicit FindingLines(std::size_t keep) : keep_(keep) {}
    void write(std::string_view text) override;
    const std::string &text() const { return text_; }
    std::uint64_t leftOut() const { return leftOut_; }

  private:
    std::size_t keep_;
    std::size_t kept_ = 0;
    std::string text_;
    std::uint64_t leftOut_ = 0;
};

class WindowTableJob {
  public:
    // `reportName` empty: no report file.
    WindowTableJob(RecoveryRequest request, bool checkOnly, std::string reportName);
    WindowTableJob(const WindowTableJob &) = delete;
    WindowTableJob &operator=(const WindowTableJob &) = delete;

    // On the worker. A check's outcome produced nothing; it is cancelled when the observer
    // asked for that.
    RecoveryOutcome run(EngineContext &engine, RunObserver &observer);

    bool checkOnly() const { return checkOnly_; }
    // After the run: a repair's `runText` (what the run showed) followed by the counts and
    // the output's name; a check's verdict, counts and findings; then the report's fate.
    std::string resultsText(AppContext &app, const RecoveryOutcome &outcome,
                            const std::string &runText) const;

  private:
    void finishReport(platform::Platform &os, const RecoveryOutcome &outcome);

    RecoveryRequest request_;
    bool checkOnly_;
    std::string reportName_;
    ReportSetUp setUp_;
    FindingLines findings_{100};
    CheckVerdict verdict_ = CheckVerdict::Unreadable;
    // Why the report file was not written; empty when it was, or none was asked for.
    std::string reportProblem_;
};

} // namespace salvora
