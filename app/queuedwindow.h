// The window as a run on a worker thread sees it: what the run does to the controls is queued
// on the background run and done on the window's own thread by `replayOnWindow`.
#pragma once

#include <map>
#include <set>

#include "app/backgroundrun.h"
#include "app/runwindow.h"

namespace salvora {

class QueuedWindow final : public RunWindow {
  public:
    // `checked`: the check boxes that were checked when the run started.
    QueuedWindow(BackgroundRun &run, std::set<int> checked)
        : run_(run), checked_(std::move(checked)) {}

    // The worker reads no control: names and choices travel with the work.
    std::string controlText(int, std::size_t) override { return {}; }
    void setControlText(int id, const std::string &text) override;
    void repaintControl(int) override {}
    bool isChecked(int id) override { return checked_.count(id) != 0; }
    void progressSetRange(int id, std::uint32_t minimum, std::uint32_t maximum) override;
    void progressSetStep(int id, std::uint32_t step) override { bars_[id].step = step; }
    // Steps become positions, so that a window behind the run moves its bar once.
    void progressStepIt(int id) override;
    void progressSetPos(int id, std::uint32_t position) override;
    // A worker shows no boxes; the folder run shows none either.
    void messageBox(const std::string &, const std::string &, MessageIcon) override {}

  private:
    struct Bar {
        std::uint32_t minimum = 0;
        std::uint32_t maximum = 100;
        std::uint32_t step = 10;
        std::uint32_t position = 0;
    };

    BackgroundRun &run_;
    std::set<int> checked_;
    std::map<int, Bar> bars_;
};

// Does a queued control event on `window`; false for an event of the run's observer.
bool replayOnWindow(const RunEvent &event, RunWindow &window);

} // namespace salvora
