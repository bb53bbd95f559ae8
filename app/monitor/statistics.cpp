#include "app/monitor/statistics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "app/console/formats.h"
#include "app/console/log.h"
#include "app/console/printable.h"
#include "app/console/product.h"

namespace tlm {

std::string write_stats_file(const std::string& path, double hashrate, uint64_t accepted, uint64_t rejected,
                             double uptime, int threads) {
  char line[512];
  const int size =
      snprintf(line, sizeof line,
               "{\"hashrate_hs\":%.0f,\"accepted\":%llu,\"rejected\":%llu,\"uptime_s\":%.0f,\"threads\":%d,"
               "\"version\":\"%s\",\"algo\":\"verushash\"}\n",
               hashrate, static_cast<unsigned long long>(accepted), static_cast<unsigned long long>(rejected),
               uptime, threads, kVersion);
  struct stat target;
  if (lstat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) return "it is not a regular file";
  // mkstemp creates the name with O_CREAT|O_EXCL: never through a link, never an
  // existing FIFO or device.
  std::string tmp = path + ".XXXXXX";
  const int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return strerror(errno);
  fchmod(fd, 0644);
  const bool written = write(fd, line, static_cast<size_t>(size)) == size;
  const int saved_errno = errno;
  // A short write (full disk) must not replace a whole file with a truncated one.
  if (close(fd) != 0 || !written) {
    unlink(tmp.c_str());
    return strerror(written ? errno : saved_errno);
  }
  if (rename(tmp.c_str(), path.c_str()) != 0) {
    const std::string error = strerror(errno);
    unlink(tmp.c_str());
    return error;
  }
  return "";
}

Statistics::Statistics(std::string stats_file, int threads) : stats_file_(std::move(stats_file)), threads_(threads) {}

void Statistics::step(double uptime, uint64_t hashes, uint64_t accepted, uint64_t rejected, bool mining) {
  rates_.record(uptime, hashes);
  ++ticks_;
  if (ticks_ % 10 == 0 && !stats_file_.empty()) {
    const std::string error =
        write_stats_file(stats_file_, mining ? rates_.rate_over(60) : 0.0, accepted, rejected, uptime, threads_);
    if (!error.empty() && !warned_)
      log_line(kBad, "cannot write the statistics file %s: %s", printable(stats_file_).c_str(), error.c_str());
    warned_ = !error.empty();
  }
  if (ticks_ % 30 == 0 && !mining)
    log_line(kStrong, "speed: no pool connection · accepted %llu · rejected %llu", static_cast<unsigned long long>(accepted),
         static_cast<unsigned long long>(rejected));
  else if (ticks_ % 30 == 0)
    log_line(kStrong, "speed 10s %s · 60s %s · 15m %s · accepted %llu · rejected %llu", fmt_rate(rates_.rate_over(10)).c_str(),
         fmt_rate(rates_.rate_over(60)).c_str(), fmt_window_rate(rates_.rate_over(900), uptime, 900).c_str(),
         static_cast<unsigned long long>(accepted), static_cast<unsigned long long>(rejected));
}

}  // namespace tlm
