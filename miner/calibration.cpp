#include "miner/calibration.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <thread>

#include "hash/sample_header.h"
#include "miner/job_header.h"

namespace tlm {

namespace {

// Five rounds, each setting's median from them; what the budget leaves after
// that is margin for the slices' last batches and a slow machine's set-ups.
constexpr int kRounds = 5;
constexpr double kSlicedShare = 0.8;
// A share target's top 64 bits as pools send them: candidates are rare, so the
// measurement is of hashing, not of recording them.
constexpr uint64_t kTargetHi = 0x0000000FFFFFFFFFull;

// This thread's processor time: a slice's rate per processor second does not drop
// when other programs take the processor for a while, which would otherwise
// decide the choice as much as the setting does.
double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t mid = v.size() / 2;
  return v.size() % 2 == 1 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

}  // namespace

size_t fastest(const std::vector<std::vector<double>>& rates) {
  size_t best = 0;
  double best_rate = -1;
  for (size_t s = 0; s < rates.size(); ++s) {
    const double rate = median(rates[s]);
    if (rate > best_rate) {
      best = s;
      best_rate = rate;
    }
  }
  return best;
}

std::string describe_choice(const std::vector<tlm_setting>& settings, const std::vector<double>& medians,
                            size_t chosen) {
  const double top = medians.empty() ? 0 : *std::max_element(medians.begin(), medians.end());
  const double scale = top >= 1e6 ? 1e6 : top >= 1e3 ? 1e3 : 1;
  const char* unit = top >= 1e6 ? "MH/s" : top >= 1e3 ? "kH/s" : "H/s";
  const bool kernels = settings.front().kernel != settings.back().kernel;
  std::string line;
  if (kernels) line = std::string("kernel ") + settings[chosen].kernel->name + " · ";
  line += "lanes " + std::to_string(settings[chosen].lanes) + " (measured";
  for (size_t s = 0; s < settings.size(); ++s) {
    const bool first_of_kernel = s == 0 || settings[s].kernel != settings[s - 1].kernel;
    if (first_of_kernel && s > 0) line += " ·";
    if (!first_of_kernel) line += ",";
    line += " ";
    if (kernels && first_of_kernel) line += std::string(settings[s].kernel->name) + " ";
    char figure[48];
    std::snprintf(figure, sizeof figure, "%d: %.2f", settings[s].lanes, medians[s] / scale);
    line += figure;
  }
  return line + " " + unit + ")";
}

Calibration::Calibration(std::vector<tlm_setting> settings, int threads, std::chrono::milliseconds budget)
    : settings_(std::move(settings)),
      budget_(budget),
      slice_(std::chrono::duration_cast<std::chrono::nanoseconds>(budget * kSlicedShare) /
             (kRounds * settings_.size())),
      // More threads than processors take turns: their rates per processor second
      // add up to more than the machine hashes, so the reported figures are scaled.
      turns_(std::min(1.0, double(std::max(1u, std::thread::hardware_concurrency())) / std::max(1, threads))),
      threads_(threads),
      waiting_for_(threads),
      rates_(settings_.size()) {}

tlm_setting Calibration::run(tlm_engine* ctx, int index, const std::atomic<bool>& running) {
  uint8_t header[kHeaderSize];
  sample_header(0x9E3779B97F4A7C15ull + uint64_t(index), header);
  uint32_t nonce = 0;
  uint32_t found[kTlmMaxFound];
  std::unique_lock<std::mutex> lock(mutex_);
  arrive(lock, 0);  // every thread made its context: the first slice starts
  while (!done_) {
    const tlm_setting setting = settings_[current_];
    const Clock::time_point end = slice_end_;
    lock.unlock();
    tlm_engine_configure(ctx, setting.kernel, setting.lanes);
    tlm_engine_set(ctx, header);
    uint64_t hashes = 0;
    const double start = thread_seconds();
    // One batch per call, so that a slice ends within one batch of its time.
    while (running.load(std::memory_order_relaxed) && Clock::now() < end) {
      int32_t nfound = 0;
      const uint32_t done = tlm_engine_scan(ctx, nonce, uint32_t(ctx->lanes), kTargetHi, found, &nfound);
      nonce += done;
      hashes += done;
    }
    const double busy = thread_seconds() - start;
    lock.lock();
    arrive(lock, busy > 0 ? double(hashes) / busy : 0);
  }
  return settings_[chosen_];
}

void Calibration::leave() {
  std::unique_lock<std::mutex> lock(mutex_);
  --threads_;
  if (--waiting_for_ == 0) next_slice();
}

std::optional<std::string> Calibration::take_report() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!done_ || reported_) return std::nullopt;
  reported_ = true;
  std::vector<double> medians;
  for (const auto& r : rates_) medians.push_back(median(r));
  return describe_choice(settings_, medians, chosen_);
}

void Calibration::arrive(std::unique_lock<std::mutex>& lock, double rate) {
  rate_ += rate;
  if (--waiting_for_ == 0) {
    next_slice();
    return;
  }
  const uint64_t slice = slices_started_;
  slice_changed_.wait(lock, [&] { return slices_started_ != slice; });
}

void Calibration::next_slice() {
  const Clock::time_point now = Clock::now();
  const size_t n = settings_.size();
  if (slices_started_ == 0) {
    started_ = now;
  } else {
    rates_[current_].push_back(rate_ * turns_);
  }
  const uint64_t slice = slices_started_++;
  rate_ = 0;
  waiting_for_ = threads_;
  // Whole rounds only, and none that would end past the budget.
  const auto elapsed = now - started_;
  const int64_t rounds_done = int64_t(slice / n);
  const bool next_round_fits = rounds_done == 0 || elapsed + elapsed / rounds_done <= budget_;
  if (slice % n == 0 && (rounds_done == kRounds || !next_round_fits)) {
    done_ = true;
    chosen_ = fastest(rates_);
  } else {
    const size_t position = slice % n;
    current_ = rounds_done % 2 == 0 ? position : n - 1 - position;
    slice_end_ = now + slice_;
  }
  slice_changed_.notify_all();
}

}  // namespace tlm
