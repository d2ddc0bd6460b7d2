// The history of recent source and output names: two lists kept in step, entry i of one
// belonging to entry i of the other, at most 20 pairs, most recent first.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace salvora {

class HistoryList {
  public:
    static constexpr std::size_t capacity = 20;
    // Each name lives in a 255-byte buffer with its terminator.
    static constexpr std::size_t maxNameLength = 254;

    std::size_t size() const { return sourceHistory_.size(); }
    bool empty() const { return sourceHistory_.empty(); }
    const std::string &source(std::size_t i) const { return sourceHistory_[i]; }
    const std::string &output(std::size_t i) const { return outputHistory_[i]; }
    const std::vector<std::string> &sources() const { return sourceHistory_; }
    const std::vector<std::string> &outputs() const { return outputHistory_; }

    // While loading, pairs go to the end; a full list takes no more.
    void append(const std::string &source, const std::string &output);
    // From now on pairs go to the front and the oldest falls off a full list.
    void finishLoading() { loading_ = false; }
    bool loading() const { return loading_; }
    void addFront(const std::string &source, const std::string &output);
    // The pair goes to the front unless it already is the first one; true when it was added.
    bool addIfNew(const std::string &source, const std::string &output);
    void clear();

  private:
    std::vector<std::string> sourceHistory_;
    std::vector<std::string> outputHistory_;
    bool loading_ = true;
};

// Writes "source,output" lines (CR LF), most recent first, replacing the file's contents.
// Returns 0 or the error that kept the file from being written.
platform::ErrorCode exportHistory(platform::Platform &os, const HistoryList &history,
                                  const std::string &path);

} // namespace salvora
