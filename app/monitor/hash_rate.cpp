#include "app/monitor/hash_rate.h"

namespace tlm {

namespace {

constexpr double kHorizonSeconds = 900.0;

}  // namespace

void HashRate::record(double uptime, uint64_t hashes) {
  samples_.emplace_back(uptime, hashes);
  while (uptime - samples_.front().first > kHorizonSeconds) samples_.pop_front();
}

double HashRate::rate_over(double window_seconds) const {
  if (samples_.size() < 2) return 0.0;
  const auto& newest = samples_.back();
  auto it = samples_.begin();
  while (newest.first - it->first > window_seconds) ++it;
  const double dt = newest.first - it->first;
  if (!(dt > 0.0)) return 0.0;
  return static_cast<double>(newest.second - it->second) / dt;
}

}  // namespace tlm
