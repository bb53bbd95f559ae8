#include "stratum/failover.h"

namespace tlm {

Failover::Failover(size_t pools, Time now) : Failover(pools, now, Timing()) {}

Failover::Failover(size_t pools, Time now, Timing timing)
    : pools_(pools), timing_(timing), last_job_(now), next_probe_(now), probe_started_(now) {}

void Failover::connected(size_t pool) {
  if (pool == current_) failed_dials_ = 0;
}

void Failover::dial_failed(size_t pool) {
  if (pool == current_) ++failed_dials_;
}

void Failover::job(size_t pool, Time now) {
  if (pool == current_) last_job_ = now;
}

void Failover::probe_dial_failed() { probe_failed_ = true; }

void Failover::probe_job() { probe_has_job_ = true; }

Failover::Step Failover::next(Time now) {
  if (pools_ < 2) return {};
  if (probing_ && probe_has_job_) return switch_to(0, now, "the first pool delivers jobs again");
  const size_t following = (current_ + 1) % pools_;
  if (failed_dials_ >= timing_.dial_failures) {
    return switch_to(following, now, std::to_string(failed_dials_) + " connection attempts failed");
  }
  if (now - last_job_ >= timing_.job_wait) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timing_.job_wait).count();
    return switch_to(following, now, "no job for " + std::to_string(seconds) + " s");
  }
  if (probing_ && (probe_failed_ || now - probe_started_ >= timing_.job_wait)) {
    probing_ = false;
    return {Step::kStopProbe, 0, {}};
  }
  if (current_ != 0 && !probing_ && now >= next_probe_) {
    probing_ = true;
    probe_started_ = now;
    next_probe_ = now + timing_.probe_every;
    probe_failed_ = false;
    probe_has_job_ = false;
    return {Step::kStartProbe, 0, {}};
  }
  return {};
}

Failover::Step Failover::switch_to(size_t pool, Time now, std::string reason) {
  // The first pool gets its first probe a full period after it was left.
  if (current_ == 0) next_probe_ = now + timing_.probe_every;
  current_ = pool;
  last_job_ = now;
  failed_dials_ = 0;
  probing_ = false;
  return {Step::kSwitch, pool, std::move(reason)};
}

}  // namespace tlm
