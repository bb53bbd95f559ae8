#include "stratum/failover.h"

namespace tlm {

Failover::Failover(size_t pools, Time now) : Failover(pools, now, Timing()) {}

Failover::Failover(size_t pools, Time now, Timing timing)
    : pools_(pools), timing_(timing), last_job_(now), next_probe_(now), probe_started_(now) {}

void Failover::connected(size_t pool) {
  if (pool == current_) held_since_.reset();
}

void Failover::dial_failed(size_t pool) {
  if (pool == current_) ++failed_dials_;
}

void Failover::job(size_t pool, Time now) {
  if (pool != current_) return;
  last_job_ = now;
  if (!held_since_) held_since_ = now;
}

void Failover::ended(size_t pool, Time now) {
  if (pool != current_) return;
  if (held_since_ && now - *held_since_ >= timing_.hold) {
    failed_dials_ = 0;
    ended_early_ = 0;
  } else {
    ++ended_early_;
  }
  held_since_.reset();
}

void Failover::probe_dial_failed() { probe_failed_ = true; }

void Failover::probe_job(Time now) {
  if (!probe_job_at_) probe_job_at_ = now;
}

void Failover::probe_ended() { probe_failed_ = true; }

std::string Failover::failures() const {
  const auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + (n == 1 ? one : many);
  };
  const std::string dials = count(failed_dials_, " connection attempt failed", " connection attempts failed");
  const std::string ended = count(ended_early_, " connection ended", " connections ended") + " within " +
                            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timing_.hold).count()) +
                            " s";
  if (ended_early_ == 0) return dials;
  return failed_dials_ == 0 ? ended : dials + ", " + ended;
}

Failover::Step Failover::next(Time now) {
  if (pools_ < 2) return {};
  if (probing_ && probe_job_at_ && !probe_failed_ && (!probe_must_hold_ || now - *probe_job_at_ >= timing_.hold))
    return switch_to(0, now, "the first pool delivers jobs again");
  const size_t following = (current_ + 1) % pools_;
  if (failed_dials_ + ended_early_ >= timing_.dial_failures) return switch_to(following, now, failures());
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
    probe_job_at_.reset();
    return {Step::kStartProbe, 0, {}};
  }
  return {};
}

Failover::Step Failover::switch_to(size_t pool, Time now, std::string reason) {
  // The first pool gets its first probe a full period after it was left.
  if (current_ == 0) {
    next_probe_ = now + timing_.probe_every;
    probe_must_hold_ = ended_early_ > 0;
  }
  current_ = pool;
  last_job_ = now;
  failed_dials_ = 0;
  ended_early_ = 0;
  held_since_.reset();
  probing_ = false;
  return {Step::kSwitch, pool, std::move(reason)};
}

}  // namespace tlm
