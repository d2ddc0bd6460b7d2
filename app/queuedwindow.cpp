#include "app/queuedwindow.h"

namespace salvora {

void QueuedWindow::setControlText(int id, const std::string &text) {
    run_.post({RunEvent::Kind::ControlText, {}, text, static_cast<std::uint32_t>(id), 0});
}

void QueuedWindow::progressSetRange(int id, std::uint32_t minimum, std::uint32_t maximum) {
    Bar &bar = bars_[id];
    bar.minimum = minimum;
    bar.maximum = maximum;
    bar.position = minimum;
    run_.post({RunEvent::Kind::ProgressRange, {}, {}, static_cast<std::uint32_t>(id), maximum});
}

void QueuedWindow::progressStepIt(int id) {
    Bar &bar = bars_[id];
    // As the control does: past the end it wraps to the start.
    std::uint32_t next = bar.position + bar.step;
    progressSetPos(id, next > bar.maximum ? bar.minimum + (next - bar.maximum) : next);
}

void QueuedWindow::progressSetPos(int id, std::uint32_t position) {
    bars_[id].position = position;
    run_.post({RunEvent::Kind::ProgressPosition, {}, {}, static_cast<std::uint32_t>(id), position});
}

bool replayOnWindow(const RunEvent &event, RunWindow &window) {
    int id = static_cast<int>(event.index);
    switch (event.kind) {
    case RunEvent::Kind::ControlText:
        window.setControlText(id, event.text);
        return true;
    case RunEvent::Kind::ProgressRange:
        window.progressSetRange(id, 0, event.records);
        return true;
    case RunEvent::Kind::ProgressPosition:
        window.progressSetPos(id, event.records);
        return true;
    default:
        return false;
    }
}

} // namespace salvora
