// Which of the settings a miner may mine with (tlm_engine_settings) is fastest on
// this machine, measured at start by all mining threads at once, so that caches the
// threads share are shared as they will be when mining. The fastest lane count
// depends on the cache each thread gets, which no rule predicts well.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace tlm {

// Index of the setting to mine with, from each setting's rates in the rounds
// measured (rates[s][r]: each thread's hashes per second of its processor time,
// summed over the threads): the highest median, so that one disturbed round does
// not decide; the earlier setting on a tie. A single setting needs no rates.
size_t fastest(const std::vector<std::vector<double>>& rates);

// The log line for a choice and the median rates behind it:
// "lanes 64 (measured 16: 2.50, 32: 3.10, 48: 3.20, 64: 3.30 MH/s)", and with two
// kernels "kernel avx2 · lanes 64 (measured avx512 16: 2.50, ... · avx2 16: ... MH/s)".
std::string describe_choice(const std::vector<tlm_setting>& settings, const std::vector<double>& medians,
                            size_t chosen);

class Calibration {
 public:
  using Clock = std::chrono::steady_clock;

  // Measures `settings` with `threads` threads, in rounds of one slice per setting
  // (every other round in reverse order, so that a drifting machine favours none),
  // in at most about `budget`.
  Calibration(std::vector<tlm_setting> settings, int threads,
              std::chrono::milliseconds budget = std::chrono::milliseconds(2000));
  Calibration(const Calibration&) = delete;
  Calibration& operator=(const Calibration&) = delete;

  // One thread's part, with an engine context of its own made for kTlmMaxLanes
  // lanes (left configured for the last setting measured): hashes a synthetic job
  // with each setting while the other threads do, and returns the fastest once all
  // of them have finished. After `running` turns false it hashes no more, and the
  // rest of the calibration passes at once.
  tlm_setting run(tlm_engine* ctx, int index, const std::atomic<bool>& running);
  // Stands in for a thread that will not call run (never started, or without a
  // context), so that the others need not wait for it.
  void leave();
  // The log line (describe_choice) for the first caller after the calibration
  // ended; nothing for the others.
  std::optional<std::string> take_report();

 private:
  // Counts the thread in and waits until every thread has; the last one ends the
  // slice and starts the next. Called with `lock` held.
  void arrive(std::unique_lock<std::mutex>& lock, double rate);
  void next_slice();

  const std::vector<tlm_setting> settings_;
  const std::chrono::nanoseconds budget_;
  const std::chrono::nanoseconds slice_;
  const double turns_;  // the share of a processor each thread gets: 1, or less with more threads than processors
  std::mutex mutex_;
  std::condition_variable slice_changed_;
  // Everything below is guarded by mutex_.
  int threads_;
  int waiting_for_;
  uint64_t slices_started_ = 0;
  size_t current_ = 0;  // the setting being measured
  double rate_ = 0;  // hashes per processor second, summed over the threads, in this slice
  Clock::time_point started_, slice_end_;
  std::vector<std::vector<double>> rates_;
  bool done_ = false;
  size_t chosen_ = 0;
  bool reported_ = false;
};

}  // namespace tlm
