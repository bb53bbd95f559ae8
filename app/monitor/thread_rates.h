// Hash rate of each mining thread over the last 10 s, from the threads' own hash
// totals sampled once a second.
#pragma once

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

namespace tlm {

class ThreadRates {
 public:
  // Adds the totals of every thread at `uptime` and forgets samples more than
  // 10 s older.
  void record(double uptime, std::vector<uint64_t> totals);
  // Hashes per second of each thread between the oldest and the newest sample;
  // all 0 before the second sample.
  std::vector<double> rates() const;

 private:
  std::deque<std::pair<double, std::vector<uint64_t>>> samples_;  // oldest first
};

}  // namespace tlm
