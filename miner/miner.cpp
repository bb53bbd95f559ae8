#include "miner/miner.h"

#include <iterator>
#include <optional>
#include <system_error>

#include "engine/engine.h"
#include "miner/calibration.h"
#include "miner/search.h"
#include "miner/target.h"

namespace tlm {

Miner::Miner(ShareSink* sink) : sink(sink) {}

Miner::~Miner() { stop(); }

bool Miner::start(int threads, int lanes) {
  running.exchange(true);
  if (threads < 1) return true;
  tlm_setting listed[kTlmMaxSettings];
  settings.assign(listed, listed + tlm_engine_settings(lanes, listed));
  if (settings.size() > 1) {
    calibration = std::make_unique<Calibration>(settings, threads);
  } else {
    kernel_.store(settings[0].kernel);
    lanes_.store(settings[0].lanes);
  }
  for (int i = 0; i < threads; ++i) counters.push_back(std::make_unique<std::atomic<uint64_t>>(0));
  workers.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) {
    try {
      workers.emplace_back(&Miner::worker, this, i);
    } catch (const std::system_error&) {
      if (calibration) {
        for (int missing = i; missing < threads; ++missing) calibration->leave();
      }
      stop();
      return false;
    }
  }
  return true;
}

void Miner::stop() {
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    if (!running.exchange(false)) return;
  }
  state_changed.notify_all();
  for (std::thread& t : workers)
    if (t.joinable()) t.join();
}

void Miner::set_work(const Work& w) {
  auto fresh = std::make_shared<const Work>(w);
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    state = std::move(fresh);
    current_seq.store(w.seq);
  }
  state_changed.notify_all();
}

void Miner::withdraw() {
  std::lock_guard<std::mutex> lock(state_mutex);
  state.reset();
  current_seq.store(0);
}

uint64_t Miner::hashes() const {
  uint64_t sum = 0;
  for (const auto& c : counters) sum += c->load(std::memory_order_relaxed);
  return sum;
}

void Miner::pause(bool on) {
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    paused.store(on);
  }
  state_changed.notify_all();
}

std::vector<uint64_t> Miner::thread_hashes() const {
  std::vector<uint64_t> totals;
  for (const auto& c : counters) totals.push_back(c->load(std::memory_order_relaxed));
  return totals;
}

std::shared_ptr<const Work> Miner::wait_for_work() {
  std::unique_lock<std::mutex> lock(state_mutex);
  state_changed.wait(lock, [&] { return !running.load() || (state != nullptr && !paused.load()); });
  return running.load() ? state : nullptr;
}

tlm_setting Miner::choose_setting(tlm_engine* ctx, int index) {
  if (!calibration) return settings[0];
  const tlm_setting chosen = calibration->run(ctx, index, running);
  if (std::optional<std::string> report = calibration->take_report(); report && running.load()) {
    kernel_.store(chosen.kernel);
    lanes_.store(chosen.lanes);
    if (on_calibrated) on_calibrated(*report);
  }
  return chosen;
}

void Miner::worker(int index) {
  // Room for any lane count, which costs no more: the lane area has one size.
  tlm_engine* ctx = tlm_engine_new(kTlmMaxLanes);
  if (ctx == nullptr) {
    if (calibration) calibration->leave();
    if (on_message) on_message("thread " + std::to_string(index) + ": out of memory");
    return;
  }
  const tlm_setting setting = choose_setting(ctx, index);
  tlm_engine_configure(ctx, setting.kernel, setting.lanes);
  const uint32_t batch = static_cast<uint32_t>(ctx->lanes) * 8;
  std::atomic<uint64_t>& counter = *counters[static_cast<size_t>(index)];
  Search search(ranges);
  uint64_t last_seq = 0;
  uint64_t hi = 0;
  uint8_t hash[32];
  uint32_t found[32];

  while (running.load()) {
    const uint64_t s = current_seq.load();
    if (s == 0 || s != last_seq || paused.load()) {
      std::shared_ptr<const Work> w = wait_for_work();
      if (!w) break;
      // Mined under its own number: a job published after reading current_seq is
      // already the one taken, and the next batch must not see it as new.
      last_seq = w->seq;
      hi = target_hi(std::data(w->target));
      if (search.take(std::move(w))) tlm_engine_set(ctx, search.header());
    } else if (search.refresh_if_exhausted(batch)) {
      tlm_engine_set(ctx, search.header());
    }

    int32_t nfound = 0;
    const uint32_t done = tlm_engine_scan(ctx, search.position, batch, hi, found, &nfound);
    search.position += done;
    const Work& w = search.job();
    for (int32_t i = 0; i < nfound; ++i) {
      uint8_t* hdr = search.header();
      put_engine_nonce(hdr, found[i]);
      tlm_engine_hash_ref(hash, hdr);
      if (!meets_target(hash, std::data(w.target))) continue;
      const size_t prefix_len = w.extranonce1.size();
      Share share{w.seq, w.job_id, w.ntime, {search.nonce() + prefix_len, search.nonce() + kNonceSize},
                  {hdr + kSolutionOffset, hdr + kHeaderSize}};
      found_.fetch_add(1);
      if (on_found) on_found(share_difficulty(hash));
      sink->submit(std::move(share));
    }
    counter.fetch_add(done, std::memory_order_relaxed);
  }
  tlm_engine_free(ctx);
}

}  // namespace tlm
