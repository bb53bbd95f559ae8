#include "app/console/event_lines.h"

#include <cstdio>

#include "app/console/log.h"
#include "app/console/formats.h"
#include "app/console/line_limiter.h"
#include "app/console/printable.h"

namespace tlm {

void JobReporter::report(const std::string& job_id, bool clean, double difficulty) {
  if (job_id != last_job_id_ && clean) {
    pool_lines().log(kAccent, "new job " + printable(job_id) + " · share difficulty " + fmt_diff(difficulty), false);
  } else if (!(difficulty == last_difficulty_)) {
    pool_lines().log(kMuted, "share difficulty " + fmt_diff(difficulty), false);
  }
  last_job_id_ = job_id;
  last_difficulty_ = difficulty;
}

void report_share_result(const ShareResult& result, const ShareCounts& counts) {
  // n/m on both lines: the shares accepted of those answered.
  const auto accepted = static_cast<unsigned long long>(counts.accepted);
  const auto answered = static_cast<unsigned long long>(counts.accepted + counts.rejected);
  if (result.accepted) {
    log_line(kGood, "share accepted · %llu/%llu · %lld ms", accepted, answered,
             static_cast<long long>(result.round_trip.count()));
  } else {
    log_line(kBad, "share rejected · %llu/%llu%s%s", accepted, answered, result.reason.empty() ? "" : ": ",
             printable(result.reason).c_str());
  }
}

void report_share_found(double difficulty) { log_line(kStrong, "share found · difficulty %s", fmt_diff(difficulty).c_str()); }

std::string exit_summary(double uptime, double average_rate, uint64_t found, const ShareCounts& counts) {
  char line[512];
  snprintf(line, sizeof line,
           "uptime %s · average %s · shares found %llu · sent %llu · accepted %llu · rejected %llu · "
           "unanswered %llu · in flight %llu · dropped %llu",
           fmt_uptime(uptime).c_str(), fmt_rate(average_rate).c_str(), static_cast<unsigned long long>(found),
           static_cast<unsigned long long>(counts.sent), static_cast<unsigned long long>(counts.accepted),
           static_cast<unsigned long long>(counts.rejected), static_cast<unsigned long long>(counts.unanswered),
           static_cast<unsigned long long>(counts.in_flight), static_cast<unsigned long long>(counts.dropped));
  return line;
}

void report_pool_message(const std::string& text) { pool_lines().log(kMuted, printable(text)); }

}  // namespace tlm
