#include "app/resultstext.h"

#include <string_view>

namespace salvora {

void ResultsText::appendLine(const std::string &line) {
    text_ += line;
    if (text_.size() < limit_)
        return;
    std::string_view notice = droppedResultsNotice;
    std::size_t from = dropped_ ? notice.size() : 0;
    // Drop whole lines from the front until the notice and the rest fit; the newest line is
    // always kept, even if it alone were too long.
    std::size_t newest = text_.size() - line.size();
    while (from < newest && notice.size() + (text_.size() - from) >= limit_) {
        std::size_t end = text_.find('\n', from);
        from = (end == std::string::npos || end >= newest) ? newest : end + 1;
    }
    text_.replace(0, from, notice);
    dropped_ = true;
}

} // namespace salvora
