#include "app/reportfile.h"

#include <vector>

#include "engine/memofile.h"
#include "engine/textformat.h"
#include "engine/worknames.h"

namespace salvora {

namespace {

constexpr std::size_t flushSize = 64u << 10;

} // namespace

ReportFile::ReportFile(platform::Platform &os, const std::string &path) {
    platform::OpenResult opened =
        os.openFile(path, {platform::Access::ReadWrite, platform::Share::Read,
                           platform::Disposition::CreateAlways, true, true, false});
    error_ = opened.error;
    file_ = std::move(opened.file);
}

void ReportFile::write(std::string_view text) {
    if (!file_)
        return;
    buffer_ += text;
    if (buffer_.size() >= flushSize)
        flush();
}

void ReportFile::flush() {
    if (file_ && !buffer_.empty() && error_ == 0)
        error_ = file_->write(buffer_.data(), buffer_.size()).error;
    buffer_.clear();
}

platform::ErrorCode ReportFile::close() {
    flush();
    file_.reset();
    return error_;
}

namespace {

bool equalNoCase(const std::string &a, const std::string &b) {
    return a.size() == b.size() && findNoCase(a, b) == 0;
}

// The memo files a table of that name can have: its extension replaced, and its ".dbf"
// replaced as an output's memo is named.
void addMemoNames(const std::string &table, std::vector<std::string> &names) {
    std::size_t nameStart = platform::fileNameStart(table);
    std::size_t dot = table.rfind('.');
    std::string stem = dot == std::string::npos || dot < nameStart ? table : table.substr(0, dot);
    std::size_t dbf = lastDbfOfFileName(table);
    for (const char *extension : {".dbt", ".fpt", ".smt"}) {
        names.push_back(stem + extension);
        if (dbf != std::string::npos)
            names.push_back(table.substr(0, dbf) + extension + table.substr(dbf + 4));
    }
}

} // namespace

bool reportWouldOverwrite(platform::Platform &os, const std::string &report,
                          const std::string &source, const std::optional<std::string> &output,
                          const std::optional<std::string> &log) {
    std::vector<std::string> names{source};
    addMemoNames(source, names);
    if (output) {
        names.push_back(*output);
        addMemoNames(*output, names);
    }
    if (log)
        names.push_back(*log);
    for (const std::string &name : names) {
        if (equalNoCase(report, name) || os.sameFile(report, name).value_or(false) ||
            os.sameFile(report, findBesideNoCase(os, name)).value_or(false))
            return true;
    }
    return false;
}

ReportSetUp setUpReport(platform::Platform &os, const std::string &source,
                        const std::optional<std::string> &reportName, bool checkOnly) {
    ReportSetUp setUp;
    ReportFormat format = ReportFormat::Text;
    if (reportName) {
        format = reportFormatFor(*reportName);
        setUp.file = std::make_unique<ReportFile>(os, *reportName);
        if (!setUp.file->isOpen()) {
            setUp.problem = formatText("%s: %s", *reportName, os.errorText(setUp.file->error()));
            setUp.file.reset();
        }
    }
    setUp.report = std::make_unique<RunReport>(source, format, setUp.file.get(), checkOnly);
    return setUp;
}

} // namespace salvora
