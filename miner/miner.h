// The mining threads: each searches its own ranges of the current job's nonce space
// with its own engine context and hands the shares it confirms to a share sink.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "miner/share_sink.h"
#include "miner/work.h"

namespace tlm {

class Miner {
 public:
  // `sink` receives every confirmed share; it must outlive the miner.
  explicit Miner(ShareSink* sink);
  ~Miner();  // stops and joins the threads

  Miner(const Miner&) = delete;
  Miner& operator=(const Miner&) = delete;

  // Starts `threads` mining threads whose engines keep `lanes` nonces in flight.
  // They sleep until a job is set. Call once; threads < 1 starts none. False when
  // the system refused a thread: those already started are stopped again.
  bool start(int threads, int lanes);
  // Stops and joins the threads. Further calls do nothing.
  void stop();
  // Makes `w` the job every thread mines from its next batch on. Safe from any thread.
  void set_work(const Work& w);
  // Withdraws the job: every thread sleeps after its current batch until set_work.
  void withdraw();
  // Paused, every thread sleeps after its current batch; unpaused, they go on
  // with the job they had, or with the one set meanwhile. Safe from any thread.
  void pause(bool on);
  // True while a job is set.
  bool has_work() const { return current_seq.load() != 0; }
  // Hashes done by all threads since start.
  uint64_t hashes() const;
  // Hashes done by each thread since start.
  std::vector<uint64_t> thread_hashes() const;
  // Shares confirmed and handed to the sink.
  uint64_t found() const { return found_.load(); }

  std::function<void(const std::string&)> on_message;  // status texts
  // The difficulty a share reached, on the mining thread just before the share is
  // handed to the sink, so whatever the sink reports about it comes later.
  std::function<void(double)> on_found;

 private:
  void worker(int index);
  // The job to mine, or null once stopped; sleeps while there is none or while paused.
  std::shared_ptr<const Work> wait_for_work();

  ShareSink* const sink;
  std::vector<std::thread> workers;
  std::vector<std::unique_ptr<std::atomic<uint64_t>>> counters;
  std::atomic<bool> running{false};
  std::atomic<bool> paused{false};  // written under state_mutex, read between batches
  int32_t lanes = 32;
  std::mutex state_mutex;
  std::condition_variable state_changed;
  std::shared_ptr<const Work> state;  // guarded by state_mutex; null: no job
  // seq of the job in `state`, 0 without one: what threads check between batches.
  std::atomic<uint64_t> current_seq{0};
  // Ranges of 2^32 engine nonces handed out so far (see Search).
  std::atomic<uint64_t> ranges{0};
  std::atomic<uint64_t> found_{0};
};

}  // namespace tlm
