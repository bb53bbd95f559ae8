#include "app/statistics.h"

#include <cstdio>
#include <utility>

#include "app/console.h"
#include "app/product.h"

namespace ilvo {

bool write_stats_file(const std::string& path, double hashrate, uint64_t accepted, uint64_t rejected,
                      double uptime, int threads) {
  char line[512];
  snprintf(line, sizeof line,
           "{\"hashrate_hs\":%.0f,\"accepted\":%llu,\"rejected\":%llu,\"uptime_s\":%.0f,\"threads\":%d,"
           "\"version\":\"%s\",\"algo\":\"verushash\"}\n",
           hashrate, static_cast<unsigned long long>(accepted), static_cast<unsigned long long>(rejected), uptime,
           threads, kVersion);
  const std::string tmp = path + ".tmp";
  FILE* f = fopen(tmp.c_str(), "w");
  if (f == nullptr) return false;
  // A short write (full disk) must not replace a whole file with a truncated one.
  const bool written = fputs(line, f) >= 0;
  if (fclose(f) != 0 || !written) {
    remove(tmp.c_str());
    return false;
  }
  return rename(tmp.c_str(), path.c_str()) == 0;
}

Statistics::Statistics(std::string stats_file, int threads) : stats_file_(std::move(stats_file)), threads_(threads) {}

void Statistics::step(double uptime, uint64_t hashes, uint64_t accepted, uint64_t rejected, bool mining) {
  rates_.record(uptime, hashes);
  ++ticks_;
  if (ticks_ % 10 == 0 && !stats_file_.empty())
    write_stats_file(stats_file_, mining ? rates_.rate_over(60) : 0.0, accepted, rejected, uptime, threads_);
  if (ticks_ % 30 == 0 && !mining)
    logf(kStrong, "speed: no pool connection · accepted %llu · rejected %llu", static_cast<unsigned long long>(accepted),
         static_cast<unsigned long long>(rejected));
  else if (ticks_ % 30 == 0)
    logf(kStrong, "speed 10s %s · 60s %s · 15m %s · accepted %llu · rejected %llu", fmt_rate(rates_.rate_over(10)).c_str(),
         fmt_rate(rates_.rate_over(60)).c_str(), fmt_rate(rates_.rate_over(900)).c_str(),
         static_cast<unsigned long long>(accepted), static_cast<unsigned long long>(rejected));
}

}  // namespace ilvo
