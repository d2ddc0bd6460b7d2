// The folder run's results as the log box shows them. The text stays within the 64000-byte
// buffer the window reads it into: when a new line would not fit, the oldest lines give way
// and a first line says that some were dropped.
#pragma once

#include <cstddef>
#include <string>

namespace salvora {

inline constexpr std::size_t resultsTextLimit = 64000;
inline constexpr const char *droppedResultsNotice = "(earlier results dropped)\r\n";

class ResultsText {
  public:
    // `limit` counts the terminating NUL of the window's buffer, as the buffer size does.
    explicit ResultsText(std::size_t limit = resultsTextLimit) : limit_(limit) {}

    // `line` is one whole result line with its line end.
    void appendLine(const std::string &line);
    const std::string &text() const { return text_; }

  private:
    std::size_t limit_;
    std::string text_;
    bool dropped_ = false;
};

} // namespace salvora
