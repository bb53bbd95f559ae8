// The running miner: start-up after the command line, the one-second main loop and
// the orderly shutdown. It owns the miner, the pool client, the pool switch, the
// dev fee, the statistics and the monitoring, and it alone makes the pool
// client's configuration: the pool from the pool switch, the login from the dev
// fee.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/options.h"
#include "app/console/event_lines.h"
#include "app/dev_fee.h"
#include "app/monitor/monitoring.h"
#include "app/monitor/statistics.h"
#include "app/pool_switch.h"
#include "miner/miner.h"
#include "stratum/stratum.h"

namespace tlm {

class RunLoop {
 public:
  explicit RunLoop(const Options& opts);
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // Checks the engine, starts the miner and the pool client and runs until
  // SIGINT, SIGTERM or SIGHUP. Returns the exit code: 0 after an orderly stop, 1
  // when a kernel, the self-test, the API or the mining threads fail at start.
  int run();

 private:
  // Everything up to the loop; false when the program must end with exit code 1.
  bool start();
  // One iteration of the loop, `uptime` seconds after the start.
  void tick(double uptime);
  // Stops everything and logs the summary and "stopping".
  void shut_down();
  // Seconds since the loop began.
  double uptime() const;
  // Withdraws the miner's job, stops the pool client, calls `change` and starts
  // the client again with the configuration as it is then.
  void restart(const std::function<void()>& change);
  // The pool client's configuration for mining on pool `pool` with the login the
  // dev fee says.
  Stratum::Config config_for(size_t pool) const;
  // What the monitoring shows `uptime` seconds after the start.
  Snapshot figures(double uptime) const;

  const Options opts_;
  const std::string user_;
  const std::vector<PoolAddress> pools_;  // the first pool, then the backups
  Stratum stratum_;
  Miner miner_;
  PoolSwitch pool_switch_;
  DevFee dev_fee_;
  Statistics stats_;
  JobReporter jobs_;
  std::optional<Monitoring> monitoring_;  // once the kernel is known
  std::atomic<double> difficulty_{0};
  std::atomic<int64_t> last_share_time_{0};
  std::chrono::steady_clock::time_point t0_;
  std::atomic<bool> paused_{false};  // by the keyboard
  double paused_seconds_ = 0;        // of the uptime, counted by tick()
  double last_tick_ = 0;
};

}  // namespace tlm
