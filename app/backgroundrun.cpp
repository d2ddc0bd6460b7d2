#include "app/backgroundrun.h"

namespace salvora {

void replay(const RunEvent &event, RunObserver &target) {
    switch (event.kind) {
    case RunEvent::Kind::Account:
        target.account(event.text);
        return;
    case RunEvent::Kind::Message:
        target.message(event.message, event.text);
        return;
    case RunEvent::Kind::WalkStarted:
        target.walkStarted(event.records);
        return;
    case RunEvent::Kind::RecordReached:
        target.recordReached(event.index, event.records);
        return;
    case RunEvent::Kind::WalkEnded:
        target.walkEnded(event.records);
        return;
    case RunEvent::Kind::ControlText:
    case RunEvent::Kind::ProgressRange:
    case RunEvent::Kind::ProgressPosition:
        return; // for the window, not for an observer
    }
}

class BackgroundRun::QueueingObserver final : public RunObserver {
  public:
    explicit QueueingObserver(BackgroundRun &run) : run_(run) {}

    void account(std::string_view text) override {
        run_.push({RunEvent::Kind::Account, {}, std::string(text), 0, 0});
    }
    void message(RunMessage kind, const std::string &text) override {
        run_.push({RunEvent::Kind::Message, kind, text, 0, 0});
    }
    void walkStarted(std::uint32_t records) override {
        run_.push({RunEvent::Kind::WalkStarted, {}, {}, 0, records});
    }
    void recordReached(std::uint32_t index, std::uint32_t records) override {
        run_.push({RunEvent::Kind::RecordReached, {}, {}, index, records});
    }
    void walkEnded(std::uint32_t records) override {
        run_.push({RunEvent::Kind::WalkEnded, {}, {}, 0, records});
    }
    bool cancelled() override { return run_.cancelRequested_; }

  private:
    BackgroundRun &run_;
};

BackgroundRun::BackgroundRun(std::function<void()> wake) : wake_(std::move(wake)) {}

BackgroundRun::~BackgroundRun() {
    cancel();
    if (thread_.joinable())
        thread_.join();
}

void BackgroundRun::start(EngineContext &engine, RecoveryRequest request) {
    start([&engine, request = std::move(request)](RunObserver &observer) {
        return runRecovery(engine, request, observer);
    });
}

void BackgroundRun::start(Work work) {
    if (thread_.joinable())
        thread_.join();
    cancelRequested_ = false;
    events_.clear();
    outcome_.reset();
    woken_ = false;
    thread_ = std::thread([this, work = std::move(work)] {
        QueueingObserver observer(*this);
        RecoveryOutcome outcome = work(observer);
        std::lock_guard lock(mutex_);
        outcome_ = std::move(outcome);
        if (!woken_) {
            woken_ = true;
            wake_();
        }
    });
}

void BackgroundRun::push(RunEvent event) {
    std::lock_guard lock(mutex_);
    // A window that takes its events late needs only where the walk and the bar stand now:
    // a progress event replaces the last one of its kind behind other progress events.
    auto isProgress = [](const RunEvent &e) {
        return e.kind == RunEvent::Kind::RecordReached ||
               e.kind == RunEvent::Kind::ProgressPosition;
    };
    bool merged = false;
    if (isProgress(event))
        for (auto it = events_.rbegin(); it != events_.rend() && isProgress(*it); ++it)
            if (it->kind == event.kind &&
                (event.kind == RunEvent::Kind::RecordReached || it->index == event.index)) {
                *it = std::move(event);
                merged = true;
                break;
            }
    if (!merged)
        events_.push_back(std::move(event));
    if (!woken_) {
        woken_ = true;
        wake_();
    }
}

BackgroundRun::Taken BackgroundRun::take() {
    Taken taken;
    {
        std::lock_guard lock(mutex_);
        taken.events.swap(events_);
        taken.outcome = std::move(outcome_);
        outcome_.reset();
        woken_ = false;
    }
    if (taken.outcome && thread_.joinable())
        thread_.join();
    return taken;
}

} // namespace salvora
