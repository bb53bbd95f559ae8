// Measures the hash rate of the selected kernels the way the miner drives them.
#pragma once

#include <cstdint>

#include "tools/tlm-bench/counters.h"

namespace tlm_bench {

struct Result {
  const char* kernel = "";  // tlm_engine_isa() during the measurement
  int threads = 0;
  int lanes = 0;
  double seconds = 0;  // wall time from the common start to the last thread's end
  uint64_t hashes = 0;
  double hs = 0;  // hashes per second
  Counts counts;  // summed over the threads while they hashed

  // Adds another measurement of the same kernel, threads and lanes.
  void add(const Result& part);
};

// Runs `threads` threads, each with its own engine context of `lanes` lanes on a
// realistic job, scanning lanes x 8 nonces per call for about `seconds`. Returns
// false when an engine context cannot be made.
bool measure(int threads, int lanes, double seconds, Result* result);

}  // namespace tlm_bench
