#include "app/console/line_limiter.h"

#include <algorithm>

#include "app/console/log.h"

namespace tlm {

void LineLimiter::show_counts() {
  if (repeated_ > 0) {
    show_(last_color_, last_ + " (repeated " + std::to_string(repeated_) + (repeated_ == 1 ? " time)" : " times)"));
    repeated_ = 0;
  }
  if (over_budget_ > 0) {
    show_(kMuted, std::to_string(over_budget_) + " more lines from the pool not shown");
    over_budget_ = 0;
  }
}

void LineLimiter::refill(Clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - refilled_).count();
  budget_ = std::min(kBurst, budget_ + seconds * kPerSecond);
  refilled_ = now;
}

void LineLimiter::show_due_repeats(Clock::time_point now) {
  if (repeated_ > 0 && budget_ >= 1 && now - shown_at_ >= kRepeatDelay) {
    budget_ -= 1;
    shown_at_ = now;
    show_counts();
  }
}

void LineLimiter::tick(Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  refill(now);
  show_due_repeats(now);
}

void LineLimiter::log(const char* color, const std::string& text, bool fold_repeats, Clock::time_point now) {
  std::lock_guard<std::mutex> lock(mutex_);
  refill(now);
  if (fold_repeats && text == last_ && color == last_color_) {
    ++repeated_;
    // A pool repeating one line forever still shows its count now and then.
    show_due_repeats(now);
    return;
  }
  if (budget_ < 1) {
    ++over_budget_;
    return;
  }
  budget_ -= 1;
  show_counts();
  show_(color, text);
  shown_at_ = now;
  last_ = text;
  last_color_ = color;
}

LineLimiter& pool_lines() {
  static LineLimiter limiter([](const char* color, const std::string& text) { log_line(color, "%s", text.c_str()); });
  return limiter;
}

}  // namespace tlm
