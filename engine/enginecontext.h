// Process-wide state the engine works with, gathered in one record that callers own and pass
// in explicitly.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

namespace salvora {

// The filters and switches of a run. Each flag holds 0 or 1; none is ever saved.
struct RecoveryOptions {
    std::uint32_t recoverDeleted = 0;
    std::uint32_t pack = 0;
    std::uint32_t deleteInvalidMemo = 0;
    std::uint32_t deleteEmpty = 0;
    std::uint32_t detailedLog = 0;
    std::uint32_t deleteDuplicates = 0;
    // The files a repair replaces are renamed to backup names instead of being overwritten.
    std::uint32_t keepOriginal = 0;
};

// Bits of the open-flags word that outlive a single run.
inline constexpr std::uint32_t globalFlagReadOnlySeen = 0x08;
inline constexpr std::uint32_t globalFlagOpenShared = 0x100;

class TextSink {
  public:
    virtual ~TextSink() = default;
    virtual void write(std::string_view text) = 0;
};

class WorkFileListings;

struct EngineContext {
    explicit EngineContext(platform::Platform &platform) : os(platform) {}

    platform::Platform &os;
    std::uint32_t globalFlags = 0;
    // Set by a batch: each folder is searched for stale work files from one listing.
    WorkFileListings *workFileListings = nullptr;
};

} // namespace salvora
