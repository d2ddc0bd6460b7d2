// Small tables, byte helpers and sinks that several test files share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/enginecontext.h"
#include "tests/support/tablebuilder.h"

namespace salvora::testing {

// A sound table whose header claims three records more than it holds: a repair puts the true
// count of two back, so that a repaired file can be told from an untouched one.
Bytes needsRepair();

// The record count a table's header holds; 0 for bytes too short to hold one.
std::uint32_t storedCount(const Bytes &table);

// The four little-endian bytes of `v`.
Bytes le32(std::uint32_t v);

std::string textOf(const Bytes &bytes);

// Keeps every text it is told.
class CapturedText : public TextSink {
  public:
    void write(std::string_view text) override { text_ += text; }
    std::string text_;
};

} // namespace salvora::testing
