#include "app/monitor/thread_rates.h"

#include <cstddef>

namespace tlm {

namespace {
constexpr double kWindow = 10.0;
}

void ThreadRates::record(double uptime, std::vector<uint64_t> totals) {
  samples_.emplace_back(uptime, std::move(totals));
  while (uptime - samples_.front().first > kWindow) samples_.pop_front();
}

std::vector<double> ThreadRates::rates() const {
  if (samples_.empty()) return {};
  const auto& [t1, newest] = samples_.back();
  const auto& [t0, oldest] = samples_.front();
  std::vector<double> out(newest.size(), 0.0);
  if (t1 <= t0 || oldest.size() != newest.size()) return out;
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<double>(newest[i] - oldest[i]) / (t1 - t0);
  return out;
}

}  // namespace tlm
