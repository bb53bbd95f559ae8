// The pool in use among the first pool and its backups: carries out what
// Failover decides, and runs its probe of the first pool, a second client
// that only watches for a job while mining goes on on a backup.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "app/cli/options.h"
#include "stratum/failover.h"
#include "stratum/stratum.h"

namespace tlm {

class PoolSwitch {
 public:
  // Withdraws the miner's job, stops the pool client, calls `change` and starts
  // the client again with the configuration as changed.
  using Restart = std::function<void(const std::function<void()>& change)>;

  // `pools` holds the first pool, then the backups; `timing` is the failover's.
  // `config` is the pool client's
  // configuration: a switch writes the pool's address into it inside `restart`.
  // The probe logs in with `config` as it is when the probe starts.
  PoolSwitch(std::vector<PoolAddress> pools, Failover::Timing timing, Stratum::Config& config, Restart restart);
  ~PoolSwitch() { stop(); }
  PoolSwitch(const PoolSwitch&) = delete;
  PoolSwitch& operator=(const PoolSwitch&) = delete;

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
  void start_probe();

  const std::vector<PoolAddress> pools_;
  Stratum::Config& config_;
  const Restart restart_;
  std::mutex mutex_;    // guards failover_ and session_
  Failover failover_;   // its state is touched by three threads
  size_t session_ = 0;  // pool of the client's current session
  Stratum probe_;
};

}  // namespace tlm
