// The mining threads: each hashes its own slice of the current job's nonce space
// with its own engine context and submits the shares it finds to the pool client.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "miner/work.h"

namespace tlm {

class Stratum;

class Miner {
 public:
  // One published job, kept unchanged while any thread still mines it.
  struct State {
    Work work;
  };

  // `pool` receives every share; it must outlive the miner.
  explicit Miner(Stratum* pool);
  ~Miner();  // stops and joins the threads

  Miner(const Miner&) = delete;
  Miner& operator=(const Miner&) = delete;

  // Starts `threads` mining threads whose engines keep `lanes` nonces in flight.
  // The threads idle until a job is set. Call once; threads < 1 starts none.
  void start(int threads, int lanes);
  // Stops and joins the threads. Further calls do nothing.
  void stop();
  // Makes `w` the job every thread mines from its next batch on. Safe from any thread.
  void set_work(const Work& w);
  // Hashes done by all threads since start.
  uint64_t hashes() const;

  std::function<void(const std::string&)> on_message;  // status texts
  std::function<void(double)> on_found;                // difficulty of each share submitted
  Stratum* pool;

 private:
  void worker(int index);

  std::vector<std::thread> workers;
  std::vector<std::unique_ptr<std::atomic<uint64_t>>> counters;
  std::atomic<bool> running{false};
  int32_t lanes = 32;
  std::mutex state_mutex;
  std::shared_ptr<State> state;  // guarded by state_mutex

 public:
  // seq of the job in `state`; 0 sends the threads to wait for a job.
  std::atomic<uint64_t> current_seq{0};
  // Share results counted by the pool client's handler.
  std::atomic<uint64_t> accepted{0};
  std::atomic<uint64_t> rejected{0};
};

}  // namespace tlm
