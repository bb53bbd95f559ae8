// The per-second statistics step: hash-rate samples, the speed report every 30
// iterations and the JSON statistics file every 10.
#pragma once

#include <cstdint>
#include <string>

#include "app/monitor/hash_rate.h"

namespace tlm {

// Writes the one-line statistics JSON to `path` through a temporary file of a
// fresh name in the same directory (created exclusively, so no link or special
// file is ever opened) and a rename, so readers only ever see a whole file. The
// rename is done only when `path` is absent or a regular file. Returns an empty
// text on success, else what went wrong; the old file then stays as it was.
std::string write_stats_file(const std::string& path, double hashrate, uint64_t accepted, uint64_t rejected,
                             double uptime, int threads);

class Statistics {
 public:
  // `stats_file` empty: no file. `threads` is the effective mining thread count.
  Statistics(std::string stats_file, int threads);

  // One main-loop iteration: records the miner's hash total and, on every 10th and
  // 30th call, writes the file and logs the speed report. Without a pool to mine
  // for (`mining` false) the file shows rate 0 and the report says so. A file that
  // cannot be written is reported once, and again only after it was written in between.
  void step(double uptime, uint64_t hashes, uint64_t accepted, uint64_t rejected, bool mining = true);

  const HashRate& rates() const { return rates_; }

 private:
  std::string stats_file_;
  int threads_;
  HashRate rates_;
  uint32_t ticks_ = 0;
  bool warned_ = false;
};

}  // namespace tlm
