// Keeps the lines a pool can cause from flooding the log.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace tlm {

// Passes lines on with a budget of a few per second. A line equal to the last one
// shown is counted instead of shown, and the count follows as "(repeated N
// times)" when another line is shown, or at the first tick() or repeat 10 s or
// more after the line was shown; lines over the budget
// are counted and their number is shown once the budget allows. Safe from any
// thread.
class LineLimiter {
 public:
  using Clock = std::chrono::steady_clock;
  // Where the lines that pass go.
  using Show = std::function<void(const char* color, const std::string& text)>;

  explicit LineLimiter(Show show) : show_(std::move(show)) {}

  // Shows `text` (already made printable) in `color`, or counts it. Lines that
  // only come when something changed pass `fold_repeats` false and use the
  // budget alone.
  void log(const char* color, const std::string& text, bool fold_repeats = true,
           Clock::time_point now = Clock::now());

  // Shows the count of a repeated line once it has waited 10 s; called every
  // second, so a repeat never goes unreported when the pool falls silent.
  void tick(Clock::time_point now = Clock::now());

 private:
  // Shows what was counted since the last line; `budget_` must allow one line.
  void show_counts();
  // Adds to the budget what the time since the last refill earned.
  void refill(Clock::time_point now);
  // Shows the repeat count when it is due and the budget allows; mutex_ held.
  void show_due_repeats(Clock::time_point now);

  const Show show_;
  std::mutex mutex_;
  std::string last_;
  const char* last_color_ = nullptr;
  uint64_t repeated_ = 0;
  uint64_t over_budget_ = 0;
  double budget_ = kBurst;
  Clock::time_point refilled_{};
  Clock::time_point shown_at_{};  // last line shown

  static constexpr double kBurst = 20;
  static constexpr double kPerSecond = 2;
  static constexpr std::chrono::seconds kRepeatDelay{10};
};

// The one limiter for every line a pool can cause; it writes to the log.
LineLimiter& pool_lines();

}  // namespace tlm
