// What the user sees of pool and miner events: the log lines of new jobs, share
// results, shares found, pool messages and the run's summary. Texts from the pool are
// shown through printable(); nothing here changes what is sent back to the pool.
#pragma once

#include <cstdint>
#include <string>

#include "stratum/session.h"

namespace tlm {

// Tells a new job from a new share difficulty for the same job. Used on the pool
// client's thread only.
class JobReporter {
 public:
  // Logs "new job ..." for a new job id with the clean flag, otherwise "share
  // difficulty ..." when the difficulty changed (a NaN always counts as changed).
  void report(const std::string& job_id, bool clean, double difficulty);

 private:
  std::string last_job_id_;
  double last_difficulty_ = -1.0;  // so the first job is always logged
};

// Logs the pool's answer to a share; `counts` already include it.
void report_share_result(const ShareResult& result, const ShareCounts& counts);

// Logs a share the miner confirmed with the difficulty its hash reached.
void report_share_found(double difficulty);

// The one-line summary of a run: uptime, average rate and where the `found`
// shares went.
std::string exit_summary(double uptime, double average_rate, uint64_t found, const ShareCounts& counts);

// Logs a status text of the pool client.
void report_pool_message(const std::string& text);

}  // namespace tlm
