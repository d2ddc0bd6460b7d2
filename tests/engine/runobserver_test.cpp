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
    void message(RunMessage kind, const std::string &) override {
        static const char *const names[] = {"analysing",    "no table",      "unknown type",
                                            "table",        "finished",      "cannot open",
                                            "cannot write", "cannot install"};
        events.push_back(names[static_cast<int>(kind)]);
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

} // namespace
} // namespace salvora::testing
