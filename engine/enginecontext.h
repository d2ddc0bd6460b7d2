// Process-wide state the engine works with, gathered in one record that callers own and pass
// in explicitly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace salvora {

class RunReport;

// Each flag holds 0 or 1; none is ever saved.
struct RecoveryOptions {
    std::uint32_t recoverDeleted = 0;
    std::uint32_t pack = 0;
    std::uint32_t deleteInvalidMemo = 0;
    std::uint32_t deleteEmpty = 0;
    std::uint32_t detailedLog = 0;
    std::uint32_t deleteDuplicates = 0;
};

// Bits of the open-flags word that outlive a single run.
inline constexpr std::uint32_t globalFlagReadOnlySeen = 0x08;
inline constexpr std::uint32_t globalFlagOpenShared = 0x100;

class TextSink {
  public:
    virtual ~TextSink() = default;
    virtual void write(std::string_view text) = 0;
};

// Told how far the record loop has come, every few thousand records and once at the end.
class ProgressObserver {
  public:
    virtual ~ProgressObserver() = default;
    virtual void recordsDone(std::uint64_t done, std::uint64_t total) = 0;
};

// Identifiers of the strings the engine loads from the interface language.
inline constexpr int stringUnrecoverableFile = 110;
inline constexpr int stringRecoverableRecords = 120;

std::string defaultEngineString(int id);

struct EngineContext {
    explicit EngineContext(platform::Platform &platform) : os(platform) {}

    platform::Platform &os;
    RecoveryOptions options;
    std::uint32_t globalFlags = 0;
    // Set when the program has a console of the user's; the run echoes its texts there.
    TextSink *consoleOut = nullptr;
    ProgressObserver *progress = nullptr;
    // Set while a report was asked for: the run tells it every finding. Null otherwise.
    RunReport *report = nullptr;
    std::function<std::string(int)> loadString = defaultEngineString;
    // A message box with no owner window. Without a user interface it goes to standard error.
    std::function<void(const std::string &text, const std::string &caption)> ownerlessMessage;
    // What the last run has to say, as the main window shows it.
    std::string messageText;
    std::string lastOutput;
    // The system error behind the last failed run, 0 when there was none.
    platform::ErrorCode lastError = 0;
    // Why the last run failed when that was not the table's damage (in use, disk full, a
    // refused name); empty otherwise.
    std::string failure;
};

} // namespace salvora
