// Hash rates over sliding windows, from the miner's hash total sampled once a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

namespace tlm {

class HashRate {
 public:
  // Appends (`uptime`, `hashes`) and drops samples more than 900 s older than it.
  void record(double uptime, uint64_t hashes);

  // Hashes per second between the newest sample and the oldest one no more than
  // `window_seconds` older; 0 with fewer than two samples or no time between them.
  double rate_over(double window_seconds) const;

  size_t size() const { return samples_.size(); }

 private:
  std::deque<std::pair<double, uint64_t>> samples_;  // (uptime, hash total), oldest first
};

}  // namespace tlm
