// What a caller hears of a run through its observer, in order, and the outcome it gets back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/recovery.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {
namespace {

class RecordingObserver final : public RunObserver {
  public:
    std::vector<std::string> events;

    void account(std::string_view) override { events.push_back("account"); }
    void message(RunMessage kind, const std::string &) override { events.push_back(nameOf(kind)); }
    static const char *nameOf(RunMessage kind) {
        switch (kind) {
        case RunMessage::Analysing:
            return "analysing";
        case RunMessage::NoTableFound:
            return "no table";
        case RunMessage::UnknownType:
            return "unknown type";
        case RunMessage::TableFound:
            return "table";
        case RunMessage::Finished:
            return "finished";
        case RunMessage::CannotOpen:
            return "cannot open";
        case RunMessage::CannotWrite:
            return "cannot write";
        case RunMessage::CannotInstall:
            return "cannot install";
        case RunMessage::Refused:
            return "refused";
        case RunMessage::LogRefused:
            return "log refused";
        case RunMessage::JournalSettled:
            return "journal settled";
        }
        return "?";
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

Bytes people(std::uint8_t type, int records, int claimed) {
    TableBuilder t(type);
    t.field("NAME", 'C', 10);
    for (int i = 0; i < records; ++i)
        t.record("name" + std::to_string(i));
    return t.recordCount(static_cast<std::uint32_t>(claimed)).build();
}

struct Case {
    const char *name;
    Bytes source; // empty: no source file at all
    int result;
    std::uint32_t records;
    std::uint64_t kept;
    std::vector<std::string> events;
};

TEST(RunObserver, HearsTheRunInOrderAndTheOutcomeHoldsItsCounts) {
    const std::vector<Case> cases = {
        {"sound",
         people(0x03, 2, 2),
         recoveryFixed,
         2,
         2,
         {"account", "analysing", "table", "walk 2", "record 0", "end 2", "account", "finished"}},
        {"count too large",
         people(0x03, 2, 5),
         recoveryFixed,
         2,
         2,
         {"account", "analysing", "table", "walk 2", "record 0", "end 2", "account", "finished"}},
        {"no table",
         Bytes(3000, 0x05),
         recoveryNothingProduced,
         0,
         0,
         {"account", "analysing", "no table"}},
        {"unknown type",
         people(0x05, 2, 2),
         recoveryUnusable,
         0,
         0,
         {"account", "analysing", "unknown type"}},
        {"missing", {}, recoveryUnusable, 0, 0, {"account", "analysing", "cannot open"}},
    };
    for (const Case &c : cases) {
        TempDir dir;
        if (!c.source.empty())
            writeFile(dir.file("a.dbf"), c.source);
        EngineContext context(platform::nativePlatform());
        RecoveryRequest request;
        request.source = dir.file("a.dbf");
        request.output = dir.file("b.dbf");
        RecordingObserver observer;
        RecoveryOutcome outcome = runRecovery(context, request, observer);
        EXPECT_EQ(outcome.result, c.result) << c.name;
        EXPECT_EQ(outcome.records, c.records) << c.name;
        EXPECT_EQ(outcome.kept, c.kept) << c.name;
        EXPECT_EQ(observer.events, c.events) << c.name;
        EXPECT_EQ(outcome.systemError != 0, std::string(c.name) == "missing") << c.name;
    }
}

// Says stop once the walk has reached a given record.
class CancellingObserver final : public RunObserver {
  public:
    explicit CancellingObserver(std::uint32_t at) : at_(at) {}
    void recordReached(std::uint32_t index, std::uint32_t) override { reached_ |= index >= at_; }
    bool cancelled() override { return reached_; }
    int walksEnded = 0;
    void walkEnded(std::uint32_t) override { ++walksEnded; }

  private:
    std::uint32_t at_;
    bool reached_ = false;
};

TEST(RunObserver, ACancelledRunLeavesTheSourceAndRemovesItsWorkFiles) {
    TableBuilder t(0xF5); // FoxPro with a memo field: the run makes a memo work file too
    t.field("NAME", 'C', 200).field("NOTE", 'M', 4);
    for (int i = 0; i < 20000; ++i)
        t.record("name" + std::to_string(i));
    const Bytes table = t.build();
    // Cancelled in the first batch, and at the last record it hears of (the walk is over).
    for (std::uint32_t at : {0u, 19900u}) {
        for (bool inPlace : {true, false}) {
            TempDir dir;
            WorkingFolder here(dir.path()); // where the memo work file would stay behind
            writeFile(dir.file("a.dbf"), table);
            EngineContext context(platform::nativePlatform());
            RecoveryRequest request;
            request.source = dir.file("a.dbf");
            request.output = dir.file(inPlace ? "a.dbf" : "b.dbf");
            CancellingObserver observer(at);
            RecoveryOutcome outcome = runRecovery(context, request, observer);
            EXPECT_TRUE(outcome.cancelled) << at << inPlace;
            EXPECT_EQ(outcome.result, recoveryNothingProduced) << at << inPlace;
            EXPECT_EQ(readFile(dir.file("a.dbf")), table) << at << inPlace;
            EXPECT_EQ(dir.names(), std::vector<std::string>{"a.dbf"}) << at << inPlace;
            EXPECT_EQ(observer.walksEnded, 1) << at << inPlace;
        }
    }
}

} // namespace
} // namespace salvora::testing
