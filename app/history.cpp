#include "app/history.h"

#include "engine/textformat.h"

namespace salvora {

namespace {

std::string fitted(const std::string &name) {
    return name.substr(0, HistoryList::maxNameLength);
}

} // namespace

void HistoryList::append(const std::string &source, const std::string &output) {
    if (size() >= capacity)
        return;
    sourceHistory_.push_back(fitted(source));
    outputHistory_.push_back(fitted(output));
}

void HistoryList::addFront(const std::string &source, const std::string &output) {
    sourceHistory_.insert(sourceHistory_.begin(), fitted(source));
    outputHistory_.insert(outputHistory_.begin(), fitted(output));
    if (size() > capacity) {
        sourceHistory_.pop_back();
        outputHistory_.pop_back();
    }
}

bool HistoryList::addIfNew(const std::string &source, const std::string &output) {
    if (!empty() && sourceHistory_.front() == fitted(source) &&
        outputHistory_.front() == fitted(output))
        return false;
    addFront(source, output);
    return true;
}

void HistoryList::clear() {
    sourceHistory_.clear();
    outputHistory_.clear();
}

platform::ErrorCode exportHistory(platform::Platform &os, const HistoryList &history,
                                  const std::string &path) {
    // Replacing, not overwriting in place: a shorter export must not keep an old tail.
    platform::OpenRequest request{platform::Access::ReadWrite, platform::Share::None,
                                  platform::Disposition::CreateAlways};
    platform::OpenResult opened = os.openFile(path, request);
    if (!opened)
        return opened.error;
    std::string text;
    for (std::size_t i = 0; i < history.size(); ++i)
        text += formatText("%s,%s\r\n", history.source(i), history.output(i));
    return opened.file->write(text.data(), text.size()).error;
}

} // namespace salvora
