#include "tools/tlm-bench/measure.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "hash/sample_header.h"

namespace tlm_bench {

namespace {

using Clock = std::chrono::steady_clock;

// A share target's top 64 bits as pools send them: candidates are rare, so the
// measurement is of hashing, not of recording.
constexpr uint64_t kTargetHi = 0x0000000FFFFFFFFFull;

struct Worker {
  tlm_engine* engine = nullptr;
  uint64_t hashes = 0;
  Clock::time_point end;
  Counts counts;
};

void run(Worker* worker, uint32_t first_nonce, const std::atomic<bool>* go,
         const std::atomic<bool>* stop) {
  while (!go->load(std::memory_order_acquire)) std::this_thread::yield();
  const uint32_t count = uint32_t(worker->engine->lanes) * 8;
  uint32_t nonce = first_nonce;
  uint32_t found[kTlmMaxFound];
  ThreadCounters counters;
  while (!stop->load(std::memory_order_relaxed)) {
    int32_t nfound = 0;
    uint32_t done = tlm_engine_scan(worker->engine, nonce, count, kTargetHi, found, &nfound);
    worker->hashes += done;
    nonce += done;
  }
  worker->end = Clock::now();
  worker->counts = counters.read();
}

}  // namespace

void Result::add(const Result& part) {
  const bool first = hashes == 0 && seconds == 0;
  kernel = part.kernel;
  threads = part.threads;
  lanes = part.lanes;
  seconds += part.seconds;
  hashes += part.hashes;
  hs = seconds > 0 ? double(hashes) / seconds : 0;
  counts.available = (first || counts.available) && part.counts.available;
  counts.instructions += part.counts.instructions;
  counts.cycles += part.counts.cycles;
  counts.branch_misses += part.counts.branch_misses;
}

bool measure(int threads, int lanes, double seconds, Result* result) {
  std::vector<Worker> workers(static_cast<size_t>(threads));
  uint8_t header[kTlmHeaderSize];
  bool ok = true;
  for (int t = 0; t < threads; ++t) {
    workers[t].engine = tlm_engine_new(lanes);
    if (workers[t].engine == nullptr) {
      ok = false;
      break;
    }
    tlm::sample_header(0x9E3779B97F4A7C15ull + uint64_t(t), header);
    tlm_engine_set(workers[t].engine, header);
  }
  if (ok) {
    std::atomic<bool> go{false};
    std::atomic<bool> stop{false};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
      pool.emplace_back(run, &workers[t], uint32_t(t) << 24, &go, &stop);
    }
    const Clock::time_point start = Clock::now();
    go.store(true, std::memory_order_release);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    stop.store(true, std::memory_order_relaxed);
    for (auto& thread : pool) thread.join();

    Clock::time_point end = start;
    result->hashes = 0;
    result->counts.available = true;
    for (const Worker& w : workers) {
      end = std::max(end, w.end);
      result->hashes += w.hashes;
      result->counts.available &= w.counts.available;
      result->counts.instructions += w.counts.instructions;
      result->counts.cycles += w.counts.cycles;
      result->counts.branch_misses += w.counts.branch_misses;
    }
    result->kernel = tlm_engine_isa();
    result->threads = threads;
    result->lanes = lanes;
    result->seconds = std::chrono::duration<double>(end - start).count();
    result->hs = result->seconds > 0 ? double(result->hashes) / result->seconds : 0;
  }
  for (Worker& w : workers) tlm_engine_free(w.engine);
  return ok;
}

}  // namespace tlm_bench
