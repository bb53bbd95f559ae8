#include "app/pool_switch.h"

#include "app/console/event_lines.h"
#include "app/console/log.h"
#include "app/threads.h"

namespace tlm {

PoolSwitch::PoolSwitch(std::vector<PoolAddress> pools, Failover::Timing timing, Restart restart,
                       ConfigFor config_for, std::function<Clock::time_point()> now)
    : pools_(std::move(pools)),
      restart_(std::move(restart)),
      config_for_(std::move(config_for)),
      now_(std::move(now)),
      failover_(pools_.size(), now_(), timing) {
  probe_.on_work = [this](const Work&) {
    std::lock_guard<std::mutex> lock(mutex_);
    failover_.probe_job(now_());
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

size_t PoolSwitch::current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return session_;
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
  failover_.job(session_, now_());
}

void PoolSwitch::ended() {
  std::lock_guard<std::mutex> lock(mutex_);
  failover_.ended(session_, now_());
}

void PoolSwitch::step() {
  for (;;) {
    Failover::Step s;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      s = failover_.next(now_());
    }
    switch (s.kind) {
      case Failover::Step::kNone:
        return;
      case Failover::Step::kSwitch:
        switch_to(s.pool, s.reason);
        break;
      case Failover::Step::kStartProbe:
        start_without_stop_signals([&] { probe_.start(config_for_(0)); });
        break;
      case Failover::Step::kStopProbe:
        probe_.stop();
        break;
    }
  }
}

void PoolSwitch::switch_to(size_t pool, const std::string& reason) {
  probe_.stop();
  log_line(kStrong, "switching from %s to %s: %s", host_port(pools_[current()].host, pools_[current()].port).c_str(),
           host_port(pools_[pool].host, pools_[pool].port).c_str(), reason.c_str());
  // The client is stopped while the session changes, so no late event of the
  // old pool counts for the new one.
  restart_([&] {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = pool;
  });
}

}  // namespace tlm
