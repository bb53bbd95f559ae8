#include "tools/tlm-bench/measure.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "hash/sample_header.h"
#include "miner/job_header.h"
#include "miner/miner.h"

namespace tlm_bench {

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a calibration and the slowest machine's first batch.
constexpr auto kFirstHashWait = std::chrono::seconds(30);

// Stands where the pool client goes, so that nothing is sent anywhere.
class CountingSink : public tlm::ShareSink {
 public:
  void submit(tlm::Share) override { shares.fetch_add(1, std::memory_order_relaxed); }
  std::atomic<uint64_t> shares{0};
};

// A job as a pool sends it: the synthetic header's fields, a 4-byte nonce prefix
// and a target as rare as pools set them (top 64 bits 0x0000000FFFFFFFFF), so that
// the measurement is of hashing, not of confirming shares.
tlm::Work synthetic_work() {
  uint8_t hdr[tlm::kHeaderSize];
  tlm::sample_header(0x9E3779B97F4A7C15ull, hdr);
  tlm::Work w;
  w.seq = 1;
  w.job_id = "bench";
  w.ntime = "00000000";
  std::memcpy(w.header, hdr, tlm::kJobHeaderSize);
  std::memset(w.header + tlm::kNonceOffset + 4, 0, tlm::kNonceSize - 4);
  w.extranonce1.assign(w.header + tlm::kNonceOffset, w.header + tlm::kNonceOffset + 4);
  std::memcpy(w.solution, hdr + tlm::kSolutionOffset + 3, tlm::kSolutionSize);
  std::memset(w.target, 0xFF, 24);
  const uint64_t target_hi = 0x0000000FFFFFFFFFull;
  for (int i = 0; i < 8; ++i) w.target[24 + i] = uint8_t(target_hi >> (8 * i));
  return w;
}

bool every_thread_hashes(const tlm::Miner& miner) {
  const std::vector<uint64_t> counts = miner.thread_hashes();
  return std::all_of(counts.begin(), counts.end(), [](uint64_t n) { return n > 0; });
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

bool measure(int threads, int lanes, double seconds, Result* result, std::string* calibration,
             std::string* error) {
  CountingSink sink;
  // Opened before the miner's threads exist, so that it counts them.
  ThreadCounters counters;
  const Clock::time_point end_of_wait = Clock::now() + kFirstHashWait;
  Clock::time_point start, end;
  uint64_t before = 0, after = 0;
  {
    tlm::Miner miner(&sink);
    // Read after the threads are joined.
    miner.on_calibrated = [&](const std::string& line) {
      if (calibration != nullptr) *calibration = line;
    };
    miner.set_work(synthetic_work());
    if (!miner.start(threads, lanes)) {
      *error = "the system refused a mining thread";
      return false;
    }
    while (!every_thread_hashes(miner)) {
      if (Clock::now() > end_of_wait) {
        *error = "a mining thread never hashed (out of memory?)";
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    start = Clock::now();
    before = miner.hashes();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    after = miner.hashes();
    end = Clock::now();
    miner.stop();
    const tlm_setting setting = miner.setting();
    result->kernel = setting.kernel->name;
    result->lanes = setting.lanes;
    // The threads have ended, so their counts are in; scaled from the hashes of
    // their whole life to those measured.
    result->counts = counters.read();
    const double share = miner.hashes() > 0 ? double(after - before) / double(miner.hashes()) : 0;
    result->counts.instructions = uint64_t(double(result->counts.instructions) * share);
    result->counts.cycles = uint64_t(double(result->counts.cycles) * share);
    result->counts.branch_misses = uint64_t(double(result->counts.branch_misses) * share);
  }
  result->threads = threads;
  result->hashes = after - before;
  result->seconds = std::chrono::duration<double>(end - start).count();
  result->hs = result->seconds > 0 ? double(result->hashes) / result->seconds : 0;
  return true;
}

}  // namespace tlm_bench
