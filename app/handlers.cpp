#include "app/handlers.h"

#include "app/console.h"
#include "app/line_limiter.h"
#include "app/printable.h"

namespace ilvo {

void JobReporter::report(const std::string& job_id, bool clean, double difficulty) {
  if (job_id != last_job_id_ && clean) {
    pool_lines().log(kAccent, "new job " + printable(job_id) + " · share difficulty " + fmt_diff(difficulty), false);
  } else if (!(difficulty == last_difficulty_)) {
    pool_lines().log(kMuted, "share difficulty " + fmt_diff(difficulty), false);
  }
  last_job_id_ = job_id;
  last_difficulty_ = difficulty;
}

void report_share_result(bool accepted, const std::string& reason, std::atomic<uint64_t>& accepted_count,
                         std::atomic<uint64_t>& rejected_count) {
  if (accepted) {
    const unsigned long long a = ++accepted_count;
    const unsigned long long total = a + rejected_count.load();
    logf(kGood, "share accepted · %llu/%llu", a, total);
  } else {
    ++rejected_count;
    logf(kBad, "share rejected%s%s", reason.empty() ? "" : ": ", printable(reason).c_str());
  }
}

void report_share_found(double difficulty) { logf(kStrong, "share found · difficulty %s", fmt_diff(difficulty).c_str()); }

void report_pool_message(const std::string& text) { pool_lines().log(kMuted, printable(text)); }

}  // namespace ilvo
