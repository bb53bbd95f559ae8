// What the user sees of pool and miner events: the log lines of the new-job,
// share-result, share-found and pool-message handlers. Texts from the pool are
// shown through printable(); nothing here changes what is sent back to the pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace ilvo {

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

// Counts a share result in `accepted` or `rejected` and logs it.
void report_share_result(bool accepted, const std::string& reason, std::atomic<uint64_t>& accepted_count,
                         std::atomic<uint64_t>& rejected_count);

// Logs a share handed to the pool with the difficulty its hash reached.
void report_share_found(double difficulty);

// Logs a status text of the pool client.
void report_pool_message(const std::string& text);

}  // namespace ilvo
