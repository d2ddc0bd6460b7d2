// A recovery run on a worker thread for the window. The worker only runs the engine and
// queues what the run says; the window's thread takes the events and replays them onto its
// own observer, so that no control is touched from the worker.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/recovery.h"

namespace salvora {

struct RunEvent {
    // The last three are for the window's controls (app/queuedwindow.h): `index` holds the
    // control's id, `records` the position or the range's end.
    enum class Kind {
        Account,
        Message,
        WalkStarted,
        RecordReached,
        WalkEnded,
        ControlText,
        ProgressRange,
        ProgressPosition
    };
    Kind kind = Kind::Account;
    RunMessage message = RunMessage::Analysing;
    std::string text;
    std::uint32_t index = 0;
    std::uint32_t records = 0;
};

// Tells `target` what the event says, as the run would have told it. Of the records reached
// between two takes only the last is queued.
void replay(const RunEvent &event, RunObserver &target);

class BackgroundRun {
  public:
    // `wake` is called on the worker when events wait and nobody has been woken for them
    // yet; it must only post (the window's thread then calls `take`).
    explicit BackgroundRun(std::function<void()> wake);
    // Cancels a run that still goes and waits for it.
    ~BackgroundRun();
    BackgroundRun(const BackgroundRun &) = delete;
    BackgroundRun &operator=(const BackgroundRun &) = delete;

    // The engine and the request belong to the worker until the run is over.
    void start(EngineContext &engine, RecoveryRequest request);
    // Any work that ends in an outcome: `work` runs on the worker and hears through the
    // observer whether it is cancelled.
    using Work = std::function<RecoveryOutcome(RunObserver &observer)>;
    void start(Work work);
    // Queues an event from the worker, as the run's observer does.
    void post(RunEvent event) { push(std::move(event)); }
    void cancel() { cancelRequested_ = true; }
    // True from `start` until `take` has handed over the outcome.
    bool running() const { return thread_.joinable(); }

    struct Taken {
        std::vector<RunEvent> events;
        // Set once, with the last events, when the run is over.
        std::optional<RecoveryOutcome> outcome;
    };
    Taken take();

  private:
    class QueueingObserver;
    void push(RunEvent event);

    std::function<void()> wake_;
    std::thread thread_;
    std::atomic<bool> cancelRequested_{false};
    std::mutex mutex_;
    std::vector<RunEvent> events_;
    std::optional<RecoveryOutcome> outcome_;
    bool woken_ = false;
};

} // namespace salvora
