#include "tools/tlm-bench/counters.h"

#include <linux/perf_event.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace tlm_bench {

namespace {

int open_counter(uint64_t config) {
  perf_event_attr attr;
  std::memset(&attr, 0, sizeof attr);
  attr.size = sizeof attr;
  attr.type = PERF_TYPE_HARDWARE;
  attr.config = config;
  attr.exclude_kernel = 1;
  attr.exclude_hv = 1;
  attr.inherit = 1;
  return int(syscall(SYS_perf_event_open, &attr, 0, -1, -1, 0));
}

}  // namespace

ThreadCounters::ThreadCounters() {
  const uint64_t configs[3] = {PERF_COUNT_HW_INSTRUCTIONS, PERF_COUNT_HW_CPU_CYCLES,
                               PERF_COUNT_HW_BRANCH_MISSES};
  for (int i = 0; i < 3; ++i) fds_[i] = open_counter(configs[i]);
}

ThreadCounters::~ThreadCounters() {
  for (int fd : fds_) {
    if (fd >= 0) close(fd);
  }
}

Counts ThreadCounters::read() const {
  Counts counts;
  uint64_t values[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (fds_[i] < 0 || ::read(fds_[i], &values[i], sizeof values[i]) != sizeof values[i]) {
      return counts;
    }
  }
  counts.available = true;
  counts.instructions = values[0];
  counts.cycles = values[1];
  counts.branch_misses = values[2];
  return counts;
}

}  // namespace tlm_bench
