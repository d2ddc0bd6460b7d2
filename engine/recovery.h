// One recovery run: a damaged source table in, a fixed copy out. The caller says what to do
// in a request, hears how the run goes through an observer and gets an outcome back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/enginecontext.h"

namespace salvora {

class RunReport;

inline constexpr int recoveryFixed = 1;
inline constexpr int recoveryNothingProduced = 0;
inline constexpr int recoveryUnusable = -1;

// The texts of a run that a caller may give in its own words.
struct RunTexts {
    // The message's first line, said when the run starts.
    std::string analysing = "Analyzing file...\r\n";
    // Added to the message when a table was found, with its type ("%s") and field count ("%d").
    std::string tableFound = "File type: %s\r\nFields: %d";
    // Added to the message when a header was found but its type is unknown.
    std::string unknownType = "Unrecoverable file";
    // Appended to the message when neither a header nor field descriptors were found.
    std::string unrecoverableFile = "Unrecoverable file...\r\n";
    // The result, formatted with the kept count ("%d").
    std::string recoverableRecords =
        "Analyzing file...\r\nProcess complete.\r\nRecoverable records: %d\r\n";
    // Added to the result when the replaced table was kept, with its new name ("%s").
    std::string keptOriginal = "The original was kept as %s\r\n";
};

struct RecoveryRequest {
    std::string source;
    // Equal to the source (or another spelling of it) for an in-place repair.
    std::string output;
    RecoveryOptions options;
    // A sound table of the same structure whose header and descriptors the run takes; empty
    // when the source's own are searched for.
    std::string tableTemplate;
    // When false, records marked deleted are not written, whatever the filters say.
    bool keepDeleted = true;
    // Set when a report was asked for: the run tells it every finding.
    RunReport *report = nullptr;
    RunTexts texts;
};

// Why the run speaks. The message grows through the first five; the last three are failures
// that end the run, with their own text.
enum class RunMessage {
    Analysing,
    NoTableFound,
    UnknownType,
    TableFound,
    Finished,
    // A system error before any output was made: the source, the output or the work file.
    CannotOpen,
    // The repaired table or its memo file could not be written.
    CannotWrite,
    // The finished files could not be put in place.
    CannotInstall,
    // A name of the run is refused before anything is written (the output memo would be the
    // source's own, a memo link leads nowhere).
    Refused,
    // The engine log could not be opened safely; the run goes on without it.
    LogRefused,
    // An earlier run's interrupted replacement was completed or undone; the run goes on.
    JournalSettled,
};

// The one way out of a run while it goes. Every event has a default that ignores it.
class RunObserver {
  public:
    virtual ~RunObserver() = default;
    // The run's account as its log holds it: the names first, the result last.
    virtual void account(std::string_view) {}
    // The run's message after the change, or the failure's text.
    virtual void message(RunMessage, const std::string &) {}
    // The record walk starts, reaches a record (every hundredth and every 4096th) and ends.
    virtual void walkStarted(std::uint32_t /*records*/) {}
    virtual void recordReached(std::uint32_t /*index*/, std::uint32_t /*records*/) {}
    virtual void walkEnded(std::uint32_t /*records*/) {}
    // Asked between record batches and before the result is put in place: true ends the run
    // with nothing changed and its work files removed.
    virtual bool cancelled() { return false; }
};

struct RecoveryOutcome {
    // 1 when the fixed copy is in place, 0 when nothing was produced, -1 when the source could
    // not be used (or is of an unknown type).
    int result = recoveryNothingProduced;
    // Records the analysed header holds, and the ones the output holds.
    std::uint32_t records = 0;
    std::uint64_t kept = 0;
    // The system error behind a failed run, 0 when there was none.
    platform::ErrorCode systemError = 0;
    // What the run has to say at its end.
    std::string message;
    // Why the run failed when that was not the table's damage (in use, disk full, a refused
    // name); empty otherwise.
    std::string failure;
    // The observer asked the run to stop; nothing was produced.
    bool cancelled = false;
    // The name the replaced table was kept under; empty when none was kept.
    std::string keptTable;
};

RecoveryOutcome runRecovery(EngineContext &context, const RecoveryRequest &request,
                            RunObserver &observer);

} // namespace salvora
