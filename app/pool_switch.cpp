#include "app/pool_switch.h"

#include "app/console/log.h"
#include "app/console/event_lines.h"
#include "app/threads.h"

namespace tlm {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

PoolSwitch::PoolSwitch(std::vector<PoolAddress> pools, Failover::Timing timing, Stratum::Config& config,
                       Restart restart)
    : pools_(std::move(pools)),
      config_(config),
      restart_(std::move(restart)),
      failover_(pools_.size(), Clock::now(), timing) {
  probe_.on_work = [this](const Work&) {
    std::lock_guard<std::mutex> lock(mutex_);
    failover_.probe_job(Clock::now());
  };
  probe_.on_ended = [this] {
    std::lock_guard<std::mutex> lock(mutex_);
    failover_.probe_ended();
  };
  probe_.on_dial = [this](bool connected) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!connected) failover_.probe_dial_failed();
  };
  probe_.on_message = [](const std::string& text) { report_pool_message("first pool: " + text); };
}

void PoolSwitch::stop() { probe_.stop(); }

void PoolSwitch::dialled(bool connected) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (connected) {
    failover_.connected(session_);
  } else {
    failover_.dial_failed(session_);
  }
}

void PoolSwitch::job() {
  std::lock_guard<std::mutex> lock(mutex_);
  failover_.job(session_, Clock::now());
}

void PoolSwitch::ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  failover_.ended(session_, Clock::now());
}

void PoolSwitch::step() {
  for (;;) {
    Failover::Step s;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      s = failover_.next(Clock::now());
    }
    switch (s.kind) {
      case Failover::Step::kNone:
        return;
      case Failover::Step::kSwitch:
        switch_to(s.pool, s.reason);
        break;
      case Failover::Step::kStartProbe:
        start_probe();
        break;
      case Failover::Step::kStopProbe:
        probe_.stop();
        break;
    }
  }
}

void PoolSwitch::switch_to(size_t pool, const std::string& reason) {
  probe_.stop();
  log_line(kStrong, "switching from %s to %s: %s", host_port(pools_[session_].host, pools_[session_].port).c_str(),
       host_port(pools_[pool].host, pools_[pool].port).c_str(), reason.c_str());
  restart_([&] {
    config_.pool = pools_[pool];
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = pool;
  });
}

void PoolSwitch::start_probe() {
  Stratum::Config probe = config_;
  probe.pool = pools_[0];
  start_without_stop_signals([&] { probe_.start(probe); });
}

}  // namespace tlm
