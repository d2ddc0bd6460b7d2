#include "app/resultlog.h"

#include "engine/textformat.h"

namespace salvora {

std::string resultLine(const std::string &name, const std::string &word) {
    return formatText("%s: %s\r\n", name, word);
}

ResultLog::ResultLog(platform::Platform &os, const std::string &path, bool append) {
    // A link in the log's place could lead anywhere: it is refused, not followed.
    platform::OpenRequest request{platform::Access::ReadWrite, platform::Share::None,
                                  append ? platform::Disposition::OpenAlways
                                         : platform::Disposition::CreateAlways,
                                  false, false};
    platform::OpenResult opened = os.openFile(path, request);
    error_ = opened.error;
    if (!opened)
        return;
    file_ = std::move(opened.file);
    if (append) {
        auto size = file_->size();
        file_->seek(size.value_or(0));
    }
}

void ResultLog::write(const std::string &text) {
    if (held_)
        pending_ += text;
    else if (file_)
        file_->write(text.data(), text.size());
}

void ResultLog::release() {
    held_ = false;
    if (file_ && !pending_.empty())
        file_->write(pending_.data(), pending_.size());
    pending_.clear();
}

} // namespace salvora
