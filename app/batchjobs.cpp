#include "app/batchjobs.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "app/enginerun.h"
#include "app/sharedfiles.h"
#include "engine/listingcache.h"
#include "engine/workfilelistings.h"

namespace salvora {

namespace {

// How far the batch may run ahead of the line it is waiting to give out: far enough for the
// workers to find tables in folders of their own past a folder of a thousand tables.
constexpr std::size_t entriesAhead = 2048;
// The batch's thread is woken to give out and take up more only once the workers have no
// more than this left to take: waking it for every table cost a switch of threads each.
constexpr std::size_t refillBelow = entriesAhead / 2;

// What a table's run said on the console, kept until its turn comes.
struct ConsoleEvent {
    bool messageBox = false;
    std::string text;
    std::string caption;
    bool note = false; // for standard error: there is no console to tell
};

class RecordedConsole final : public TextSink {
  public:
    explicit RecordedConsole(std::vector<ConsoleEvent> &events, bool notes = false)
        : events_(events), notes_(notes) {}
    void write(std::string_view text) override {
        events_.push_back({false, std::string(text), {}, notes_});
    }

  private:
    std::vector<ConsoleEvent> &events_;
    bool notes_;
};

// The progress line follows the table whose line is next to be given out.
class HeadProgress {
  public:
    explicit HeadProgress(ProgressObserver *line) : line_(line) {}
    void setHead(std::size_t index) {
        std::lock_guard<std::mutex> hold(mutex_);
        head_ = index;
    }
    void recordsDone(std::size_t index, std::uint64_t done, std::uint64_t total) {
        std::lock_guard<std::mutex> hold(mutex_);
        if (index == head_)
            line_->recordsDone(done, total);
    }

  private:
    std::mutex mutex_;
    ProgressObserver *line_;
    std::size_t head_ = 0;
};

class EntryProgress final : public ProgressObserver {
  public:
    EntryProgress(HeadProgress &head, std::size_t index) : head_(head), index_(index) {}
    void recordsDone(std::uint64_t done, std::uint64_t total) override {
        head_.recordsDone(index_, done, total);
    }

  private:
    HeadProgress &head_;
    std::size_t index_;
};

struct Entry {
    std::size_t index = 0;
    std::optional<TableFiles> files; // set while its table is being repaired
    std::size_t folder = 0;          // the number of its folder in the batch
    RecoveryRequest request;
    RecoveryOutcome outcome;
    std::vector<ConsoleEvent> events;
    bool runs = false;
    bool done = false;
};

class ParallelBatch {
  public:
    // Every run goes through `engine`'s view of the system and its listings.
    ParallelBatch(AppContext &app, const EngineContext &engine, BatchEntries &entries)
        : app_(app), engine_(engine), entries_(entries), progress_(app.progressLine.get()) {}
    ~ParallelBatch() { stopWorkers(); }
    ParallelBatch(const ParallelBatch &) = delete;
    ParallelBatch &operator=(const ParallelBatch &) = delete;

    // False when not a single worker could be started.
    bool startWorkers(unsigned jobs);
    void run();

  private:
    bool dispatchNext();
    void giveOut(Entry &entry);
    Entry *takeWork();
    void work();
    void repair(Entry &entry, EngineContext &engine);
    void stopWorkers();

    AppContext &app_;
    const EngineContext &engine_;
    BatchEntries &entries_;
    HeadProgress progress_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable entryDone_;
    std::deque<Entry *> queue_;
    // The folders of the tables being repaired, one for each.
    std::vector<std::size_t> busyFolders_;
    // A number for each folder, so that workers compare numbers.
    std::unordered_map<std::string, std::size_t> folderNumbers_;
    bool stopping_ = false;
    // While the batch's thread waits: the entry it waits for, and whether every entry has
    // been taken up. It waits until that entry is done and the workers run short.
    const Entry *awaited_ = nullptr;
    bool allTaken_ = false;
    // The entries from the next to give out up to the next to take up, and their files.
    std::deque<std::unique_ptr<Entry>> window_;
    FilesInUse inWindow_;
    std::optional<TableFiles> waiting_; // of the next entry, while it waits
    std::size_t next_ = 0;
};

bool ParallelBatch::startWorkers(unsigned jobs) {
    for (unsigned i = 0; i < jobs; ++i) {
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            break; // the system has no more threads to give: the ones started do the work
        }
    }
    return !workers_.empty();
}

void ParallelBatch::stopWorkers() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stopping_ = true;
    }
    workReady_.notify_all();
    for (std::thread &worker : workers_)
        worker.join();
    workers_.clear();
}

void ParallelBatch::work() {
    // Each worker's own: a run changes the flags it holds.
    EngineContext engine(engine_.os);
    engine.globalFlags = engine_.globalFlags;
    engine.workFileListings = engine_.workFileListings;
    for (;;) {
        Entry *entry = nullptr;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            workReady_.wait(hold, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            entry = takeWork();
        }
        repair(*entry, engine);
        bool wake = false;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            entry->done = true;
            busyFolders_.erase(std::find(busyFolders_.begin(), busyFolders_.end(), entry->folder));
            wake = entry == awaited_ && (queue_.size() <= refillBelow || allTaken_);
        }
        if (wake)
            entryDone_.notify_one();
    }
}

// The first table in a folder no other worker is in: two runs in one folder wait for each
// other's creates and renames there. Called with the lock held.
Entry *ParallelBatch::takeWork() {
    auto chosen = std::find_if(queue_.begin(), queue_.end(), [this](const Entry *entry) {
        return std::find(busyFolders_.begin(), busyFolders_.end(), entry->folder) ==
               busyFolders_.end();
    });
    if (chosen == queue_.end())
        chosen = queue_.begin();
    Entry *entry = *chosen;
    queue_.erase(chosen);
    if (awaited_ && awaited_->done && queue_.size() == refillBelow)
        entryDone_.notify_one();
    busyFolders_.push_back(entry->folder);
    return entry;
}

void ParallelBatch::repair(Entry &entry, EngineContext &engine) {
    RecordedConsole console(entry.events);
    RecordedConsole notes(entry.events, true);
    EntryProgress progress(progress_, entry.index);
    std::vector<ConsoleEvent> &events = entry.events;
    ConsoleRunObserver observer(
        app_.consoleOut ? &console : nullptr, app_.progressLine ? &progress : nullptr,
        [&events](const std::string &text, const std::string &caption) {
            events.push_back({true, text, caption});
        },
        &notes);
    entry.outcome = runRecovery(engine, entry.request, observer);
}

// Takes up the next entry unless it must wait: its table may share files with one still
// being repaired, and the next in line to give out could wait for ever behind a full window.
bool ParallelBatch::dispatchNext() {
    if (next_ == entries_.count() || window_.size() >= entriesAhead)
        return false;
    auto entry = std::make_unique<Entry>();
    entry->index = next_;
    const std::string *table = entries_.tableAt(next_);
    if (table) {
        if (!waiting_)
            waiting_.emplace(engine_.os, *table);
        if (inWindow_.overlaps(*waiting_))
            return false;
        // Asked only now: an earlier run that could change what this name leads to is over.
        entry->runs = entries_.take(next_);
        if (entry->runs) {
            inWindow_.add(*waiting_);
            entry->folder =
                folderNumbers_.try_emplace(waiting_->folder(), folderNumbers_.size()).first->second;
            entry->files = std::move(waiting_);
            entry->request = recoveryRequest(app_, *table, *table);
        }
        waiting_.reset();
    }
    Entry *queued = entry.get();
    entry->done = !entry->runs;
    window_.push_back(std::move(entry));
    ++next_;
    if (queued->runs) {
        {
            std::lock_guard<std::mutex> hold(mutex_);
            queue_.push_back(queued);
        }
        workReady_.notify_one();
    }
    return true;
}

void ParallelBatch::giveOut(Entry &entry) {
    for (const ConsoleEvent &event : entry.events) {
        if (event.messageBox)
            app_.system.messageBox(event.text, event.caption);
        else if (event.note)
            app_.standardError.write(event.text);
        else
            app_.consoleOut->write(event.text);
    }
    entries_.finish(entry.index, entry.runs ? &entry.outcome : nullptr);
}

void ParallelBatch::run() {
    while (next_ < entries_.count() || !window_.empty()) {
        while (dispatchNext()) {
        }
        {
            std::unique_lock<std::mutex> hold(mutex_);
            // Woken by the worker that finishes the awaited entry or takes work with few
            // entries left, whichever comes last: not for every table.
            awaited_ = window_.front().get();
            allTaken_ = next_ == entries_.count();
            entryDone_.wait(hold, [this] {
                return awaited_->done && (queue_.size() <= refillBelow || allTaken_);
            });
            awaited_ = nullptr;
        }
        // Every entry done from the front on: the done flag of each is read under the lock.
        for (;;) {
            std::unique_ptr<Entry> entry = std::move(window_.front());
            window_.pop_front();
            if (entry->files)
                inWindow_.remove(*entry->files);
            giveOut(*entry);
            if (window_.empty())
                break;
            std::lock_guard<std::mutex> hold(mutex_);
            if (!window_.front()->done)
                break;
        }
        progress_.setHead(window_.empty() ? next_ : window_.front()->index);
    }
}

} // namespace

std::optional<unsigned> readJobCount(std::string_view text) {
    if (text.empty() || text.size() > 3)
        return std::nullopt;
    unsigned count = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        count = count * 10 + static_cast<unsigned>(c - '0');
    }
    if (count < 1 || count > maximumJobs)
        return std::nullopt;
    return count;
}

unsigned defaultJobCount() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : cores > maximumJobs ? maximumJobs : cores;
}

void runBatchEntries(AppContext &app, BatchEntries &entries, unsigned jobs) {
    WorkFileListings listings;
    ListingCache os(app.engine.os);
    EngineContext engine(os);
    engine.workFileListings = &listings;
    engine.globalFlags = app.engine.globalFlags;
    // With "/LOG" every run rewrites the one detailed log in the working folder.
    if (jobs > 1 && !app.options.detailedLog && entries.count() > 1) {
        ParallelBatch batch(app, engine, entries);
        if (batch.startWorkers(jobs)) {
            batch.run();
            return;
        }
    }
    for (std::size_t i = 0; i < entries.count(); ++i) {
        const std::string *table = entries.tableAt(i);
        if (table && entries.take(i)) {
            ConsoleRunObserver console(app);
            RecoveryOutcome outcome =
                runRecovery(engine, recoveryRequest(app, *table, *table), console);
            app.engine.globalFlags = engine.globalFlags;
            entries.finish(i, &outcome);
        } else {
            entries.finish(i, nullptr);
        }
    }
}

} // namespace salvora
