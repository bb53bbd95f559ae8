#include "miner/miner.h"

#include <cerrno>
#include <ctime>
#include <iterator>
#include <system_error>

#include "engine/engine.h"
#include "miner/job_header.h"
#include "miner/target.h"
#include "stratum/hex.h"
#include "stratum/stratum.h"

namespace tlm {

namespace {

void sleep_100ms() {
  timespec left{0, 100000000};
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

}  // namespace

Miner::Miner(Stratum* pool) : pool(pool) {}

Miner::~Miner() { stop(); }

void Miner::start(int threads, int lanes) {
  this->lanes = lanes;
  running.exchange(true);
  if (threads < 1) return;
  for (int i = 0; i < threads; ++i) counters.push_back(std::make_unique<std::atomic<uint64_t>>(0));
  workers.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    // A thread count beyond what the system can create mines with the threads it got
    // rather than ending the process.
    try {
      workers.emplace_back(&Miner::worker, this, i);
    } catch (const std::system_error&) {
      break;
    }
  }
}

void Miner::stop() {
  if (!running.exchange(false)) return;
  for (std::thread& t : workers)
    if (t.joinable()) t.join();
}

void Miner::set_work(const Work& w) {
  auto fresh = std::make_shared<State>(State{w});
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    state = std::move(fresh);
  }
  current_seq.store(w.seq);
}

uint64_t Miner::hashes() const {
  uint64_t sum = 0;
  for (const auto& c : counters) sum += c->load(std::memory_order_relaxed);
  return sum;
}

void Miner::worker(int index) {
  tlm_engine* ctx = tlm_engine_new(lanes);
  if (ctx == nullptr) {
    if (on_message) on_message("thread " + std::to_string(index) + ": out of memory");
    return;
  }
  // The engine clamps the lane count to 1..64; a batch follows what it really has.
  const uint32_t batch = static_cast<uint32_t>(ctx->lanes) * 8;
  std::atomic<uint64_t>& counter = *counters[static_cast<size_t>(index)];
  uint64_t last_seq = 0;
  uint32_t nonce_pos = 0;
  std::shared_ptr<State> held;
  uint64_t hi = 0;
  size_t prefix_len = 0;
  uint8_t nonce[kNonceSize];
  uint8_t hdr[kBlockHeaderSize];
  uint8_t hash[32];
  uint32_t found[32];

  while (running.load()) {
    uint64_t s = current_seq.load();
    if (s == 0) {
      sleep_100ms();
      continue;
    }
    if (s != last_seq) {
      {
        std::lock_guard<std::mutex> lock(state_mutex);
        held = state;
      }
      const Work& w = held->work;
      // A job published between reading the number and taking the lock is already
      // the one held: mine it under its own number, so the next batch does not see it
      // as new and scan its first nonces a second time.
      s = w.seq;
      prefix_len = w.extranonce1.size();
      build_nonce(std::data(w.header) + kNonceOffset, prefix_len, s, static_cast<uint16_t>(index), nonce);
      build_header(std::data(w.header), std::data(w.solution), nonce, hdr);
      tlm_engine_set(ctx, hdr);
      hi = target_hi(std::data(w.target));
      nonce_pos = 0;
    } else if (range_exhausted(nonce_pos, batch)) {
      raise_refresh_byte(nonce, hdr);
      tlm_engine_set(ctx, hdr);
      nonce_pos = 0;
    }

    int32_t nfound = 0;
    const uint32_t done = tlm_engine_scan(ctx, nonce_pos, batch, hi, found, &nfound);
    nonce_pos += done;
    for (int32_t i = 0; i < nfound; ++i) {
      const Work& w = held->work;
      put_engine_nonce(hdr, found[i]);
      tlm_engine_hash_ref(hash, hdr);
      if (!meets_target(hash, std::data(w.target))) continue;
      // A share that was not sent (no connection, or a job from an earlier
      // connection) is not reported as found.
      const bool sent = pool->submit(w.seq, w.job_id, w.ntime, bin_to_hex(nonce + prefix_len, kNonceSize - prefix_len),
                                     bin_to_hex(hdr + kSolutionOffset, kBlockHeaderSize - kSolutionOffset));
      if (sent && on_found) on_found(share_difficulty(hash));
    }
    counter.fetch_add(done, std::memory_order_relaxed);
    last_seq = s;
  }
  held.reset();
  tlm_engine_free(ctx);
}

}  // namespace tlm
