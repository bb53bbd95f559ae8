// The processor's own counts of instructions, cycles and mispredicted branches of
// a thread and the threads it starts, where the kernel allows perf_event_open
// (many virtual machines and containers do not).
#pragma once

#include <cstdint>

namespace tlm_bench {

struct Counts {
  bool available = false;
  uint64_t instructions = 0;
  uint64_t cycles = 0;
  uint64_t branch_misses = 0;
};

// Counts the calling thread and the threads it starts afterwards, user space only,
// from construction to read(); a started thread's counts are in once it has ended.
class ThreadCounters {
 public:
  ThreadCounters();
  ~ThreadCounters();
  ThreadCounters(const ThreadCounters&) = delete;
  ThreadCounters& operator=(const ThreadCounters&) = delete;

  // What was counted so far; available is false when any counter could not be opened.
  Counts read() const;

 private:
  int fds_[3] = {-1, -1, -1};
};

}  // namespace tlm_bench
