// The report of one run or check: a line per finding as it happens, then a summary. It also
// answers whether the table needs a repair at all.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/analysis.h"
#include "engine/enginecontext.h"
#include "engine/findings.h"
#include "engine/recordchecks.h"
#include "engine/reportformat.h"

namespace salvora {

// What a report's summary says, as values.
struct RunTotals {
    std::string result;     // empty until a repair ends
    std::string unreadable; // why the source cannot be used; empty when it can
    std::string kind;       // empty until the table is analysed
    std::string header;
    std::uint64_t fields = 0;
    std::uint64_t read = 0;
    std::uint64_t kept = 0;
    std::array<std::uint64_t, findingKinds> dropped{};
    std::uint64_t cutBySizeLimit = 0;
    std::uint64_t misaligned = 0;
    std::uint64_t memosCarried = 0;
    std::uint64_t invalidMemos = 0;
    std::uint64_t findings = 0;
    std::string verdict; // a check's verdict; empty for a repair
};

class RunReport : public FindingSink {
  public:
    // `lines`, when given, receives the report as it grows; the summary is always kept.
    RunReport(std::string tableName, ReportFormat format, TextSink *lines, bool checkOnly);

    // What the analysis made of the table; also reports what the header needs.
    void table(const RecoveryJob &job, const AnalysisResult &analysis, const char *typeName);
    // An earlier repair's replacement of the table and its memo was interrupted.
    void interruptedReplacement(const std::string &what, bool settles);
    // The source cannot be used at all.
    void unreadable(const std::string &why);

    void found(std::uint32_t index, const FieldDescriptor *field, Finding finding,
               std::span<const std::uint8_t> value, std::uint32_t number) override;
    void memoCarried() override { ++memosCarried_; }
    void recordDone(std::uint32_t index, RecordVerdict verdict, bool written);
    // The record grid broke at `from` and resumes at `to`: the records between are dropped.
    void misaligned(std::uint64_t from, std::uint64_t to, std::uint32_t records);
    // The count the output says it holds, after the size limit.
    void finish(std::uint64_t kept);
    // How a repair ended ("OK", "Unrecoverable"), for the summary.
    void result(std::string word) { result_ = std::move(word); }
    bool hasTable() const { return analysed_; }
    // Also tells `text`, when set, every finding as a plain-text line, whatever the format.
    void alsoAsText(TextSink *text) { plainLines_ = text; }

    bool needsRepair() const { return findings_ != 0 || cutBySizeLimit_ != 0; }
    std::uint64_t findingCount() const { return findings_; }

    // The summary in the report's own format, and as plain text for a console.
    std::string summary() const { return summaryIn(format_); }
    std::string summaryText() const { return summaryIn(ReportFormat::Text); }
    RunTotals totals() const;
    // Writes the summary to `lines`.
    void close();

  private:
    void write(const std::string &text);
    void tableFinding(const std::string &problem, const std::string &action);
    void writeFinding(std::uint64_t record, std::string_view field, std::string_view problem,
                      std::string_view action);
    std::string summaryIn(ReportFormat format) const;

    std::string tableName_;
    ReportFormat format_;
    TextSink *lines_;
    TextSink *plainLines_ = nullptr;
    bool checkOnly_;

    std::string typeName_;
    std::string header_;
    std::int32_t fields_ = 0;
    std::string unreadable_;
    std::string result_;
    std::uint64_t findings_ = 0;
    std::uint64_t read_ = 0;
    std::uint64_t kept_ = 0;
    std::uint64_t cutBySizeLimit_ = 0;
    std::uint64_t misaligned_ = 0;
    std::uint64_t memosCarried_ = 0;
    std::uint64_t invalidMemos_ = 0;
    std::array<std::uint64_t, findingKinds> dropped_{};
    // The first finding that drops the current record names the reason it is counted under.
    std::uint32_t dropIndex_ = 0;
    Finding dropReason_ = Finding::DroppedByPack;
    bool dropKnown_ = false;
    bool analysed_ = false;
};

} // namespace salvora
