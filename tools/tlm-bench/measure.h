// Measures the hash rate the miner gets: the real tlm::Miner on a synthetic job,
// its shares handed to a sink that only counts them.
#pragma once

#include <cstdint>
#include <string>

#include "tools/tlm-bench/counters.h"

namespace tlm_bench {

struct Result {
  const char* kernel = "";  // the kernel the miner hashed with
  int threads = 0;
  int lanes = 0;       // the lanes the miner hashed with
  double seconds = 0;  // from the moment every thread hashed to the end
  uint64_t hashes = 0;
  double hs = 0;  // hashes per second
  // Summed over the miner's threads during their whole life, scaled to `hashes`.
  Counts counts;

  // Adds another measurement of the same kernel, threads and lanes.
  void add(const Result& part);
};

// Runs the miner with `threads` threads and `lanes` lanes (0: it measures which
// kernel and lane count are fastest first, as it does by default) with the
// selected kernel (tlm_engine_use), and counts its hashes for about `seconds` once
// every thread hashes. `calibration` receives the miner's line about its choice
// when it made one. False with a reason in *error when the miner cannot start or a
// thread never hashes.
bool measure(int threads, int lanes, double seconds, Result* result, std::string* calibration,
             std::string* error);

}  // namespace tlm_bench
