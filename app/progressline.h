// A progress line on standard error for long command-line repairs: percentage and records
// per second, rewritten in place and cleared at the end.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace salvora {

// Told how far the record walk has come, every few thousand records and once at the end.
class ProgressObserver {
  public:
    virtual ~ProgressObserver() = default;
    virtual void recordsDone(std::uint64_t done, std::uint64_t total) = 0;
};

class ProgressLine final : public ProgressObserver {
  public:
    // Smaller tables are done before a progress line would help.
    static constexpr std::uint64_t minimumRecords = 100000;

    using Writer = std::function<void(std::string_view)>;
    using Clock = std::function<double()>; // seconds from any fixed point

    ProgressLine(Writer writer, Clock clock);
    void recordsDone(std::uint64_t done, std::uint64_t total) override;

  private:
    Writer writer_;
    Clock clock_;
    double start_ = 0;
    double lastShown_ = 0;
    bool started_ = false;
    std::size_t shownWidth_ = 0;
};

// The steady clock in seconds.
double steadySeconds();

} // namespace salvora
