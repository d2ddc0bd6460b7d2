#include "app/progressline.h"

#include <algorithm>
#include <chrono>

#include "engine/textformat.h"

namespace salvora {

namespace {

// Often enough to look alive, rarely enough not to slow a fast run down.
constexpr double refreshSeconds = 0.2;

} // namespace

ProgressLine::ProgressLine(Writer writer, Clock clock)
    : writer_(std::move(writer)), clock_(std::move(clock)) {}

void ProgressLine::recordsDone(std::uint64_t done, std::uint64_t total) {
    if (total <= minimumRecords)
        return;
    double now = clock_();
    if (!started_) {
        started_ = true;
        start_ = now;
        lastShown_ = now - refreshSeconds;
    }
    if (done >= total) {
        if (shownWidth_ > 0)
            writer_("\r" + std::string(shownWidth_, ' ') + "\r");
        shownWidth_ = 0;
        started_ = false;
        return;
    }
    if (now - lastShown_ < refreshSeconds)
        return;
    lastShown_ = now;
    double elapsed = now - start_;
    std::int64_t rate = elapsed > 0 ? static_cast<std::int64_t>(done / elapsed) : 0;
    std::string text = formatText("%d%% of %d records, %d records/s",
                                  static_cast<std::int64_t>(done * 100 / total),
                                  static_cast<std::int64_t>(total), rate);
    std::size_t width = text.size();
    // Blank out what a longer previous line left behind.
    if (width < shownWidth_)
        text += std::string(shownWidth_ - width, ' ');
    writer_("\r" + text);
    shownWidth_ = std::max(shownWidth_, width);
}

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace salvora
