#include "app/reportfile.h"

#include "engine/textformat.h"

namespace salvora {

namespace {

constexpr std::size_t flushSize = 64u << 10;

} // namespace

ReportFile::ReportFile(platform::Platform &os, const std::string &path) {
    platform::OpenResult opened =
        os.openFile(path, {platform::Access::ReadWrite, platform::Share::Read,
                           platform::Disposition::CreateAlways, true});
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

bool reportWouldOverwrite(platform::Platform &os, const std::string &report,
                          const std::string &source, const std::optional<std::string> &output) {
    for (const std::string *name : {&source, output ? &*output : nullptr}) {
        if (!name)
            continue;
        if (report == *name || os.sameFile(report, *name).value_or(false))
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
