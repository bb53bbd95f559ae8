// The pool in use among the first pool and its backups: carries out what
// Failover decides, and runs its probe of the first pool, a second client
// that only watches for a job while mining goes on on a backup.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "stratum/failover.h"
#include "stratum/pool_address.h"
#include "stratum/stratum.h"

namespace tlm {

class PoolSwitch {
 public:
  using Clock = std::chrono::steady_clock;
  // Withdraws the miner's job, stops the pool client, calls `change` and starts
  // the client again with the configuration of current().
  using Restart = std::function<void(const std::function<void()>& change)>;
  // The pool client's configuration for mining on pool `pool`.
  using ConfigFor = std::function<Stratum::Config(size_t pool)>;

  // `pools` holds the first pool, then the backups; mining starts on the first.
  // `now` is the clock every event and step is timed with.
  PoolSwitch(std::vector<PoolAddress> pools, Failover::Timing timing, Restart restart, ConfigFor config_for,
             std::function<Clock::time_point()> now = Clock::now);
  ~PoolSwitch() { stop(); }
  PoolSwitch(const PoolSwitch&) = delete;
  PoolSwitch& operator=(const PoolSwitch&) = delete;

  // The pool the client mines on; any thread.
  size_t current() const;

  // Events of the pool client, from its thread: the end of a connection attempt,
  // a published job, and the end of a connection that the client did not end.
  void dialled(bool connected);
  void job();
  void ended();

  // Once a second on the main thread: the switches and probes that are due. Every
  // switch is logged with its reason.
  void step();
  // Ends the probe, if one runs; on the main thread.
  void stop();

 private:
  void switch_to(size_t pool, const std::string& reason);

  const std::vector<PoolAddress> pools_;
  const Restart restart_;
  const ConfigFor config_for_;
  const std::function<Clock::time_point()> now_;
  mutable std::mutex mutex_;  // guards failover_ and session_
  Failover failover_;         // its state is touched by three threads
  size_t session_ = 0;        // pool of the client's current session
  Stratum probe_;
};

}  // namespace tlm
