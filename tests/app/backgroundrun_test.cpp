// The window's run on a worker thread: the window hears what a run on its own thread would
// hear, in order, and a cancelled run leaves nothing behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/backgroundrun.h"
#include "app/queuedwindow.h"
#include "resources/resource.h"
#include "tests/support/recordingwindow.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

class EventLog final : public RunObserver {
  public:
    std::vector<std::string> events;
    void account(std::string_view text) override {
        events.push_back("account " + std::string(text));
    }
    void message(RunMessage kind, const std::string &text) override {
        events.push_back(std::to_string(static_cast<int>(kind)) + " " + text);
    }
    void walkStarted(std::uint32_t records) override {
        events.push_back("walk " + std::to_string(records));
    }
    void recordReached(std::uint32_t index, std::uint32_t) override {
        events.push_back("record " + std::to_string(index));
    }
    void walkEnded(std::uint32_t records) override {
        events.push_back("end " + std::to_string(records));
    }
};

// The window's side: woken by the worker, takes and replays until the outcome comes.
struct Window {
    std::mutex mutex;
    std::condition_variable woken;
    int wakes = 0;
    BackgroundRun run{[this] {
        std::lock_guard lock(mutex);
        ++wakes;
        woken.notify_one();
    }};
    EventLog heard;

    RecoveryOutcome finish() {
        for (;;) {
            {
                std::unique_lock lock(mutex);
                woken.wait_for(lock, std::chrono::milliseconds(50), [this] { return wakes > 0; });
                wakes = 0;
            }
            BackgroundRun::Taken taken = run.take();
            for (const RunEvent &event : taken.events)
                replay(event, heard);
            if (taken.outcome) {
                EXPECT_FALSE(run.running());
                return *taken.outcome;
            }
        }
    }
};

Bytes names(int records) {
    TableBuilder t(0x03);
    t.field("NAME", 'C', 200);
    for (int i = 0; i < records; ++i)
        t.record("name" + std::to_string(i));
    return t.build();
}

TEST(BackgroundRun, TheWindowHearsWhatARunOnItsOwnThreadWouldHear) {
    TempDir dir;
    writeFile(dir.file("a.dbf"), names(12000));
    EngineContext context(platform::nativePlatform());
    RecoveryRequest request;
    request.source = dir.file("a.dbf");
    request.output = dir.file("b.dbf");
    EventLog direct;
    RecoveryOutcome expected = runRecovery(context, request, direct);

    Window window;
    window.run.start(context, request);
    EXPECT_TRUE(window.run.running());
    RecoveryOutcome outcome = window.finish();
    EXPECT_EQ(outcome.result, expected.result);
    EXPECT_EQ(outcome.kept, 12000u);
    EXPECT_FALSE(outcome.cancelled);
    // Records reached in a row may come as the last of them.
    auto withoutRecords = [](std::vector<std::string> events) {
        std::erase_if(events, [](const std::string &e) { return e.rfind("record ", 0) == 0; });
        return events;
    };
    EXPECT_EQ(withoutRecords(window.heard.events), withoutRecords(direct.events));
    auto lastRecord = [](const std::vector<std::string> &events) {
        auto it = std::find_if(events.rbegin(), events.rend(),
                               [](const std::string &e) { return e.rfind("record ", 0) == 0; });
        return it == events.rend() ? std::string() : *it;
    };
    EXPECT_EQ(lastRecord(window.heard.events), lastRecord(direct.events));
}

TEST(BackgroundRun, ACancelledRunLeavesTheSourceAsItWas) {
    TempDir dir;
    WorkingFolder here(dir.path());
    const Bytes table = names(60000);
    writeFile(dir.file("a.dbf"), table);
    EngineContext context(platform::nativePlatform());
    RecoveryRequest request;
    request.source = dir.file("a.dbf");
    request.output = request.source;
    Window window;
    window.run.start(context, request);
    window.run.cancel();
    RecoveryOutcome outcome = window.finish();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.result, recoveryNothingProduced);
    EXPECT_EQ(readFile(dir.file("a.dbf")), table);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"a.dbf"});
}

// A folder run on the worker reaches the window through a queued window: texts in order, the
// bar's steps as one position, and the check boxes as they were at the start.
TEST(BackgroundRun, AQueuedWindowShowsWhatTheWorkDidOnTheWindowsThread) {
    Window window;
    auto queued = std::make_shared<QueuedWindow>(window.run, std::set<int>{IDC_KEEP_DELETED});
    RecordingWindow shown;
    std::vector<RunEvent> observerEvents;
    window.run.start([queued](RunObserver &observer) {
        EXPECT_TRUE(queued->isChecked(IDC_KEEP_DELETED));
        EXPECT_FALSE(queued->isChecked(IDC_TRAY_CHECK));
        queued->setControlText(IDC_STATUS, "first");
        queued->progressSetRange(IDC_PROGRESS, 0, 50);
        queued->progressSetStep(IDC_PROGRESS, 2);
        for (int i = 0; i < 7; ++i) {
            queued->progressStepIt(IDC_PROGRESS);
            observer.recordReached(static_cast<std::uint32_t>(i * 100), 700);
        }
        queued->setControlText(IDC_LOG, "results");
        return RecoveryOutcome{};
    });
    for (;;) {
        BackgroundRun::Taken taken = window.run.take();
        for (const RunEvent &event : taken.events)
            if (!replayOnWindow(event, shown))
                observerEvents.push_back(event);
        if (taken.outcome)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(shown.texts[IDC_STATUS], "first");
    EXPECT_EQ(shown.texts[IDC_LOG], "results");
    ASSERT_FALSE(shown.calls.empty());
    EXPECT_EQ(shown.calls.front(), "range 0 50");
    EXPECT_EQ(shown.calls.back(), "pos 14");
    EXPECT_EQ(shown.count("stepit"), 0);
    ASSERT_FALSE(observerEvents.empty());
    EXPECT_EQ(observerEvents.back().index, 600u);
}

} // namespace
} // namespace salvora::testing
