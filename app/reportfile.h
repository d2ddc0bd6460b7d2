// The file named by "/report:": the report of one run or check, written as it grows.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/enginecontext.h"
#include "engine/runreport.h"

namespace salvora {

class ReportFile final : public TextSink {
  public:
    // Creates or empties the file; `error()` says why when it could not.
    ReportFile(platform::Platform &os, const std::string &path);
    ~ReportFile() override { close(); }
    ReportFile(const ReportFile &) = delete;
    ReportFile &operator=(const ReportFile &) = delete;

    void write(std::string_view text) override;
    // Writes what is buffered and closes; returns the first error met.
    platform::ErrorCode close();
    bool isOpen() const { return file_ != nullptr; }
    platform::ErrorCode error() const { return error_; }

  private:
    void flush();

    std::unique_ptr<platform::FileHandle> file_;
    std::string buffer_;
    platform::ErrorCode error_ = 0;
};

// A report must never take the place of a file of the run: the table it reports on, its memo
// file, the repair's output and its memo file, or the log (`log`, when the run writes one).
// Names are compared as the system finds files (ignoring letter case for memo files) and by
// identity, so that a link or a second spelling is caught too.
bool reportWouldOverwrite(platform::Platform &os, const std::string &report,
                          const std::string &source, const std::optional<std::string> &output,
                          const std::optional<std::string> &log = std::nullopt);

// The report of a run, with its file when one is named; `text` for the standard error when
// the file cannot be made (the run goes on without it).
struct ReportSetUp {
    std::unique_ptr<ReportFile> file;
    std::unique_ptr<RunReport> report;
    std::string problem;
};
ReportSetUp setUpReport(platform::Platform &os, const std::string &source,
                        const std::optional<std::string> &reportName, bool checkOnly);

} // namespace salvora
