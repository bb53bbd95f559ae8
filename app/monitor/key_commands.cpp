#include "app/monitor/key_commands.h"

#include <cstddef>
#include <string>

#include "app/console/formats.h"
#include "app/console/log.h"

namespace tlm {

namespace {

constexpr size_t kThreadsPerLine = 8;

void report_thread_rates(const Snapshot& s) {
  std::string line;
  for (size_t i = 0; i < s.thread_rates.size(); ++i) {
    line += " · #" + std::to_string(i) + " " + fmt_rate(s.thread_rates[i]);
    if ((i + 1) % kThreadsPerLine == 0 || i + 1 == s.thread_rates.size()) {
      log_line(kStrong, "threads 10s%s", line.c_str());
      line.clear();
    }
  }
}

void report_summary(const Snapshot& s) {
  log_line(kStrong, "uptime %s · pool %s %s · speed 10s %s · 60s %s · 15m %s", fmt_uptime(s.uptime_s).c_str(),
           s.pool.c_str(), s.connected ? "connected" : "not connected", fmt_rate(s.rate_10s).c_str(),
       fmt_rate(s.rate_60s).c_str(), fmt_window_rate(s.rate_15m, s.uptime_s, 900).c_str());
  log_line(kStrong, "shares found %llu · accepted %llu · rejected %llu · unanswered %llu · dropped %llu · difficulty %s",
       static_cast<unsigned long long>(s.found), static_cast<unsigned long long>(s.accepted),
       static_cast<unsigned long long>(s.rejected), static_cast<unsigned long long>(s.unanswered),
       static_cast<unsigned long long>(s.dropped), fmt_diff(s.difficulty).c_str());
}

}  // namespace

void KeyCommands::announce() { log_line(kMuted, "keys: h thread rates · p pause · r resume · s summary"); }

void KeyCommands::run(char key) {
  switch (key) {
    case 'h': report_thread_rates(figures_.get()); break;
    case 's': report_summary(figures_.get()); break;
    case 'p':
    case 'r':
      if (paused_ == (key == 'p')) break;
      paused_ = key == 'p';
      pause_(paused_);
      log_line(kMuted, "%s", paused_ ? "paused, the pool connection stays up: r resumes" : "resumed");
      break;
    default: announce();
  }
}

}  // namespace tlm
