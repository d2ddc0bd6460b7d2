#include "app/batchjobs.h"

#include <algorithm>
#include <chrono>
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
constexpr std::size_t entriesAhead = 8192;
// The batch's thread is woken to give out and take up more once this many entries are done
// in a row, or the workers run short: waking it for every table cost a switch of threads
// each.
constexpr std::size_t giveOutEvery = 256;
constexpr std::size_t handOverEvery = 16;
// No line waits longer than this once its table and those before it are done.
constexpr std::chrono::milliseconds linesWait{100};
using Clock = std::chrono::steady_clock;

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
    const std::string *table = nullptr;
    TableRun run;
    std::vector<ConsoleEvent> events;
    bool runs = false;
};

class ParallelBatch {
  public:
    // Every run goes through `engine`'s view of the system, `listings`.
    ParallelBatch(AppContext &app, const EngineContext &engine, ListingCache &listings,
                  BatchEntries &entries)
        : app_(app), engine_(engine), listings_(listings), entries_(entries),
          progress_(app.progressLine.get()), done_(entries.count(), 0) {}
    ~ParallelBatch() { stopWorkers(); }
    ParallelBatch(const ParallelBatch &) = delete;
    ParallelBatch &operator=(const ParallelBatch &) = delete;

    // False when not a single worker could be started.
    bool startWorkers(unsigned jobs);
    void run();

  private:
    bool dispatchNext();
    TableFiles filesOf(std::size_t index, const std::string &table);
    void handOver();
    // With the lock held.
    void advanceDone();
    bool batchThreadNeeded(Clock::time_point now) const;
    void giveOut(Entry &entry);
    Entry *takeWork();
    void work();
    void repair(Entry &entry, EngineContext &engine);
    void stopWorkers();

    AppContext &app_;
    const EngineContext &engine_;
    ListingCache &listings_;
    BatchEntries &entries_;
    HeadProgress progress_;
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::condition_variable entryDone_;
    std::condition_variable workerReady_;
    std::size_t readyWorkers_ = 0;
    // The entries to take, in their order, in runs of one folder each, so that a worker
    // looking for a folder of its own passes over a run at once.
    std::deque<std::deque<Entry *>> queue_;
    std::size_t queued_ = 0;
    // The folders of the tables being repaired, one for each.
    std::vector<std::size_t> busyFolders_;
    // A number for each folder, so that workers compare numbers.
    std::unordered_map<std::string, std::size_t> folderNumbers_;
    bool stopping_ = false;
    // By entry number: whether it is done. The entries below `doneTo_` are all done; those
    // below `givenOut_` are given out (or being so), those below `handedOver_` were taken up.
    std::vector<char> done_;
    std::size_t doneTo_ = 0;
    std::size_t givenOut_ = 0;
    std::size_t handedOver_ = 0;
    std::size_t shortOfWork_ = 0; // so few entries left to take: the workers run short
    Clock::time_point lastGiveOut_ = Clock::now();
    // The entries from the next to give out up to the next to take up, and their files.
    std::deque<std::unique_ptr<Entry>> window_;
    FilesInUse inWindow_;
    std::optional<TableFiles> waiting_; // of the next entry, while it waits
    std::vector<Entry *> taken_;        // taken up, not yet handed to the workers
    std::size_t next_ = 0;
};

bool ParallelBatch::startWorkers(unsigned jobs) {
    shortOfWork_ = 2 * std::size_t{jobs};
    for (unsigned i = 0; i < jobs; ++i) {
        try {
            workers_.emplace_back([this] { work(); });
        } catch (const std::system_error &) {
            break; // the system has no more threads to give: the ones started do the work
        }
    }
    // No table is opened before every worker has its own table of files: one made later
    // would hold on to the files open then, and keep their locks, until the batch ends.
    std::unique_lock<std::mutex> hold(mutex_);
    workerReady_.wait(hold, [this] { return readyWorkers_ == workers_.size(); });
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
    // Each run opens and closes its own files: two workers sharing the process's table of
    // files kept taking its lock from each other (about 5% of the time at two jobs).
    platform::ownFileTableForThisThread();
    {
        std::lock_guard<std::mutex> hold(mutex_);
        ++readyWorkers_;
    }
    workerReady_.notify_one();
    // Each worker's own: a run changes the flags it holds.
    EngineContext engine(engine_.os);
    engine.globalFlags = engine_.globalFlags;
    engine.workFileListings = engine_.workFileListings;
    for (;;) {
        Entry *entry = nullptr;
        {
            std::unique_lock<std::mutex> hold(mutex_);
            workReady_.wait(hold, [this] { return stopping_ || queued_ > 0; });
            if (queued_ == 0)
                return;
            entry = takeWork();
        }
        repair(*entry, engine);
        bool wake = false;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            done_[entry->index] = 1;
            busyFolders_.erase(std::find(busyFolders_.begin(), busyFolders_.end(), entry->folder));
            advanceDone();
            wake = batchThreadNeeded(Clock::now());
        }
        if (wake)
            entryDone_.notify_one();
    }
}

// The first table in a folder no other worker is in: two runs in one folder wait for each
// other's creates and renames there. Called with the lock held.
Entry *ParallelBatch::takeWork() {
    auto chosen =
        std::find_if(queue_.begin(), queue_.end(), [this](const std::deque<Entry *> &run) {
            return std::find(busyFolders_.begin(), busyFolders_.end(), run.front()->folder) ==
                   busyFolders_.end();
        });
    if (chosen == queue_.end())
        chosen = queue_.begin();
    Entry *entry = chosen->front();
    chosen->pop_front();
    if (chosen->empty())
        queue_.erase(chosen);
    --queued_;
    if (batchThreadNeeded(Clock::now()))
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
    // Made and dropped by the worker: the batch's thread has lines to give out meanwhile.
    const RecoveryRequest request = recoveryRequest(app_, *entry.table, *entry.table);
    entry.run.outcome = runRecovery(engine, request, observer);
    // Taken here, where the table's folder is still fresh in memory.
    entry.run.tableAfter = engine.os.identity(request.source);
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
            waiting_ = filesOf(next_, *table);
        if (inWindow_.overlaps(*waiting_))
            return false;
        // Asked only now: an earlier run that could change what this name leads to is over.
        entry->runs = entries_.take(next_);
        if (entry->runs) {
            inWindow_.add(*waiting_);
            entry->folder =
                folderNumbers_.try_emplace(waiting_->folder(), folderNumbers_.size()).first->second;
            entry->files = std::move(waiting_);
            entry->table = table;
        }
        waiting_.reset();
    }
    taken_.push_back(entry.get());
    window_.push_back(std::move(entry));
    ++next_;
    return true;
}

// A name the batch's listing showed as a file is no link, and its folder was seen before: no
// look at the file itself, which cost the batch's thread a look-up of the whole path each.
TableFiles ParallelBatch::filesOf(std::size_t index, const std::string &table) {
    if (!entries_.listedAsFile(index) || platform::fileNameStart(table) == 0)
        return TableFiles(engine_.os, table);
    return TableFiles::ofRealPath(listings_.resolvedFilePath(table));
}

// Hands the entries taken up to the workers, under one hold of the lock.
void ParallelBatch::handOver() {
    if (taken_.empty())
        return;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        for (Entry *entry : taken_) {
            if (entry->runs) {
                if (queue_.empty() || queue_.back().back()->folder != entry->folder)
                    queue_.emplace_back();
                queue_.back().push_back(entry);
                ++queued_;
            } else
                done_[entry->index] = 1;
        }
        handedOver_ = next_;
        advanceDone();
    }
    taken_.clear();
    workReady_.notify_all();
}

void ParallelBatch::advanceDone() {
    while (doneTo_ < handedOver_ && done_[doneTo_])
        ++doneTo_;
}

// Whether the batch's thread has lines to give out that are worth waking it for: a run of
// them, or any when the workers run short, all they were given is done, or the lines have
// waited long enough for someone watching.
bool ParallelBatch::batchThreadNeeded(Clock::time_point now) const {
    if (doneTo_ == givenOut_)
        return false;
    return doneTo_ - givenOut_ >= giveOutEvery || queued_ <= shortOfWork_ ||
           doneTo_ == handedOver_ || now - lastGiveOut_ >= linesWait;
}

void ParallelBatch::giveOut(Entry &entry) {
    for (const ConsoleEvent &event : entry.events) {
        // What other streams show keeps its place among the lines held so far.
        if (event.messageBox || event.note)
            entries_.releaseLines();
        if (event.messageBox)
            app_.system.messageBox(event.text, event.caption);
        else if (event.note)
            app_.standardError.write(event.text);
        else
            app_.consoleOut->write(event.text);
        if (event.messageBox || event.note)
            entries_.holdLines();
    }
    entries_.finish(entry.index, entry.runs ? &entry.run : nullptr);
}

void ParallelBatch::run() {
    std::size_t ready = 0; // done entries claimed for giving out
    while (next_ < entries_.count() || !window_.empty()) {
        while (dispatchNext()) {
            // The first few go at once: the workers need not wait for a whole window.
            if (taken_.size() >= handOverEvery)
                handOver();
        }
        handOver();
        if (ready == 0) {
            std::unique_lock<std::mutex> hold(mutex_);
            // Woken by the workers; waking now and then as well, for lines that are due.
            while (!batchThreadNeeded(Clock::now()))
                entryDone_.wait_for(hold, linesWait);
            ready = doneTo_ - givenOut_;
            givenOut_ = doneTo_;
            lastGiveOut_ = Clock::now();
        }
        // A few at a time, with more work taken up between: a long run of lines (a large
        // folder done at last) would leave the workers without work meanwhile. Each run's
        // lines go out in one write to each stream, not two for each table.
        entries_.holdLines();
        for (std::size_t chunk = 0; ready > 0 && chunk < giveOutEvery; --ready, ++chunk) {
            std::unique_ptr<Entry> entry = std::move(window_.front());
            window_.pop_front();
            if (entry->files)
                inWindow_.remove(*entry->files);
            giveOut(*entry);
        }
        entries_.releaseLines();
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
        ParallelBatch batch(app, engine, os, entries);
        if (batch.startWorkers(jobs)) {
            batch.run();
            return;
        }
    }
    for (std::size_t i = 0; i < entries.count(); ++i) {
        const std::string *table = entries.tableAt(i);
        if (table && entries.take(i)) {
            TableRun run{recoverTable(app, engine, *table, *table), engine.os.identity(*table)};
            app.engine.globalFlags = engine.globalFlags;
            entries.finish(i, &run);
        } else {
            entries.finish(i, nullptr);
        }
    }
}

} // namespace salvora
