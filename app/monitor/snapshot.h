// The figures the monitoring API and the keyboard commands show: a copy the main
// loop publishes once a second, so a reader never touches the miner or the pool
// client.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace tlm {

struct Snapshot {
  std::string version;
  double uptime_s = 0;
  std::string pool;  // host:port of the current pool
  bool connected = false;
  bool tls = false;
  std::string kernel;
  int lanes = 0;
  int threads = 0;
  double rate_10s = 0;  // hashes per second over each window
  double rate_60s = 0;
  double rate_15m = 0;
  std::vector<double> thread_rates;  // hashes per second of each mining thread
  uint64_t hashes = 0;               // since start
  uint64_t found = 0;
  uint64_t accepted = 0;
  uint64_t rejected = 0;
  uint64_t unanswered = 0;
  uint64_t dropped = 0;
  double difficulty = 0;         // the pool's current share difficulty
  int64_t last_share_time = 0;  // Unix time of the last share found; 0: none yet
};

// The latest Snapshot: the main loop publishes it, the API and the keyboard
// commands read it. Safe from any thread; the lock covers a copy only.
class PublishedSnapshot {
 public:
  void publish(const Snapshot& s) {
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_ = s;
  }
  Snapshot get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_;
  }

 private:
  mutable std::mutex mutex_;
  Snapshot snapshot_;  // guarded by mutex_
};

// GET /summary: one JSON object.
std::string render_summary(const Snapshot& s);
// GET /metrics: the Prometheus text exposition format.
std::string render_metrics(const Snapshot& s);

}  // namespace tlm
