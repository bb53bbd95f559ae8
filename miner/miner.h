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

#include "engine/engine.h"
#include "miner/share_sink.h"
#include "miner/work.h"

namespace tlm {

class Calibration;

class Miner {
 public:
  // `sink` receives every confirmed share; it must outlive the miner.
  explicit Miner(ShareSink* sink);
  ~Miner();  // stops and joins the threads

  Miner(const Miner&) = delete;
  Miner& operator=(const Miner&) = delete;

  // Starts `threads` mining threads whose engines keep `lanes` nonces in flight;
  // with lanes 0 the threads first measure together which kernel and lane count
  // mine fastest here (Calibration, about 2 s) and mine with that. They sleep until
  // a job is set. Call once; threads < 1 starts none. False when the system refused
  // a thread: those already started are stopped again.
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
  // The kernel and lane count the threads mine with; a null kernel and 0 lanes
  // until the calibration has chosen.
  tlm_setting setting() const { return {kernel_.load(), lanes_.load()}; }

  std::function<void(const std::string&)> on_message;  // status texts
  // The difficulty a share reached, on the mining thread just before the share is
  // handed to the sink, so whatever the sink reports about it comes later.
  std::function<void(double)> on_found;
  // The calibration's choice and the rates behind it, one line, on the mining
  // thread that ended it.
  std::function<void(const std::string&)> on_calibrated;

 private:
  void worker(int index);
  // The job to mine, or null once stopped; sleeps while there is none or while paused.
  std::shared_ptr<const Work> wait_for_work();
  // The setting thread `index` mines with, from the calibration when there is one.
  tlm_setting choose_setting(tlm_engine* ctx, int index);

  ShareSink* const sink;
  std::vector<std::thread> workers;
  std::vector<std::unique_ptr<std::atomic<uint64_t>>> counters;
  std::atomic<bool> running{false};
  std::atomic<bool> paused{false};  // written under state_mutex, read between batches
  std::vector<tlm_setting> settings;  // what start may mine with (tlm_engine_settings)
  std::unique_ptr<Calibration> calibration;  // when there is more than one
  std::atomic<const tlm_kernel*> kernel_{nullptr};
  std::atomic<int32_t> lanes_{0};
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
