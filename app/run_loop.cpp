#include "app/run_loop.h"

#include <signal.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <iterator>

#include "app/console/line_limiter.h"
#include "app/console/log.h"
#include "app/console/product.h"
#include "app/threads.h"
#include "engine/engine.h"
#include "miner/target.h"

namespace tlm {

namespace {

std::atomic<bool> g_stop{false};
std::atomic<bool> g_reopen_log{false};

void on_signal(int) { g_stop.exchange(true); }
void on_reopen_signal(int) { g_reopen_log.exchange(true); }

std::string threads_text(int n) { return std::to_string(n) + (n == 1 ? " thread" : " threads"); }

// A stop signal ends the sleep at once; any other keeps it going.
void sleep_one_second() {
  timespec left{1, 0};
  while (nanosleep(&left, &left) == -1 && errno == EINTR && !g_stop.load()) {
  }
}

Options with_effective_threads(Options opts) {
  opts.threads = effective_threads(opts.threads);
  return opts;
}

Stratum::Timing client_timing(const Options& opts) {
  Stratum::Timing t;
  t.silence = opts.pool_silence;
  return t;
}

Failover::Timing failover_timing(const Options& opts) {
  Failover::Timing t;
  t.job_wait = opts.job_wait;
  t.probe_every = opts.probe_interval;
  return t;
}

std::vector<PoolAddress> all_pools(const Options& opts) {
  std::vector<PoolAddress> pools{opts.pool};
  pools.insert(pools.end(), opts.backup_pools.begin(), opts.backup_pools.end());
  return pools;
}

// How the process reacts to signals from here on. A closed terminal or a
// supervisor's reload signal stops as cleanly as SIGTERM; SIGUSR1 (log rotation)
// has the next tick reopen the log file; the terminal never stops the miner: in
// the background, reading it fails instead (the keyboard waits for the front) and
// writing to it goes on, also with `stty tostop`.
void install_signal_handlers() {
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  signal(SIGHUP, on_signal);
  signal(SIGUSR1, on_reopen_signal);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGTTIN, SIG_IGN);
  signal(SIGTTOU, SIG_IGN);
  // A parent process may have left them blocked, which would make the miner
  // impossible to stop.
  const sigset_t stop = stop_signals();
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
}

}  // namespace

RunLoop::RunLoop(const Options& opts)
    : opts_(with_effective_threads(opts)),
      user_(pool_user(opts_.wallet, opts_.rig_id)),
      pools_(all_pools(opts_)),
      stratum_(client_timing(opts_)),
      miner_(&stratum_),
      pool_switch_(
          pools_, failover_timing(opts_), [this](const std::function<void()>& change) { restart(change); },
          [this](size_t pool) { return config_for(pool); }),
      dev_fee_([this](bool) { restart([] {}); }),
      stats_(opts_.stats_file, opts_.threads) {}

Stratum::Config RunLoop::config_for(size_t pool) const {
  Stratum::Config config;
  config.pool = pools_[pool];
  config.login.user = dev_fee_.in_fee() ? kDevFeeWallet : user_;
  config.login.password = opts_.password;
  config.login.agent = std::string(kProductName) + "/" + kVersion;
  config.tls_settings.pin = opts_.tls_fingerprint;
  config.tls_settings.insecure = opts_.tls_insecure;
  return config;
}

void RunLoop::restart(const std::function<void()>& change) {
  miner_.withdraw();
  stratum_.stop();
  // A job the old connection was publishing while we withdrew may have put it
  // back; with the connection thread joined, withdrawing again is final.
  miner_.withdraw();
  change();
  start_without_stop_signals([&] { stratum_.start(config_for(pool_switch_.current())); });
}

bool RunLoop::start() {
  tlm_engine_global_init();
  if (!opts_.kernel.empty()) {
    if (const char* refusal = tlm_engine_use(opts_.kernel.c_str())) {
      print_error("%s", refusal);
      return false;
    }
  }
  if (!opts_.log_file.empty()) {
    const std::string error = open_log_file(opts_.log_file);
    if (!error.empty()) {
      print_error("cannot open the log file %s: %s", opts_.log_file.c_str(), error.c_str());
      return false;
    }
  }
  if (tlm_engine_selftest(opts_.lanes) != 0) {
    log_line(kBad, "self-test failed on this CPU: hashes would be wrong, stopping");
    return false;
  }

  // From here on no thread waits for standard output. Flushing what start-up
  // printed may still block; until the handlers below, a stop signal ends the
  // process there.
  start_without_stop_signals(start_log_writer);
  install_signal_handlers();
  log_line(kStrong, "pool %s · user %s · %s · 1%% dev fee", host_port(opts_.pool.host, opts_.pool.port).c_str(),
           user_.c_str(), threads_text(opts_.threads).c_str());
  const std::string lanes = opts_.lanes > 0 ? std::to_string(opts_.lanes) : "auto";
  log_line(kMuted, "cpu %s · kernel %s · %s lanes · %s", tlm_engine_processor(), tlm_engine_choice(), lanes.c_str(),
           threads_text(opts_.threads).c_str());
  if (opts_.tls_insecure && !opts_.tls_fingerprint) {
    log_line(kBad, "--tls-insecure: TLS pools are not checked, anyone on the way can pose as the pool");
  }

  monitoring_.emplace(figures(0));
  if (!opts_.api_host.empty()) {
    bool listening = false;
    start_without_stop_signals(
        [&] { listening = monitoring_->start_api(opts_.api_host, opts_.api_port, opts_.api_token); });
    if (!listening) {
      flush_log(std::chrono::milliseconds(300));
      return false;
    }
  }

  stratum_.on_dial = [this](bool connected) { pool_switch_.dialled(connected); };
  stratum_.on_work = [this](const Work& w) {
    pool_switch_.job();
    miner_.set_work(w);
    difficulty_.store(share_difficulty(std::data(w.target)));
    jobs_.report(w.job_id, w.clean, difficulty_.load());
  };
  // Without a connection no share could be sent: the threads sleep.
  stratum_.on_lost = [this] { miner_.withdraw(); };
  stratum_.on_ended = [this] { pool_switch_.ended(); };
  stratum_.on_share = [this](const ShareResult& r) { report_share_result(r, stratum_.counts()); };
  stratum_.on_message = report_pool_message;
  miner_.on_calibrated = [](const std::string& line) { log_line(kMuted, "%s", line.c_str()); };
  miner_.on_found = [this](double reached) {
    last_share_time_.store(time(nullptr));
    report_share_found(reached);
  };
  bool started = false;
  start_without_stop_signals([&] { started = miner_.start(opts_.threads, opts_.lanes); });
  if (!started) {
    log_line(kBad, "cannot start %s: the system refused one, stopping", threads_text(opts_.threads).c_str());
    return false;
  }
  start_without_stop_signals([&] { stratum_.start(config_for(0)); });
  start_without_stop_signals([&] {
    monitoring_->start_keyboard([this](bool paused) {
      paused_.store(paused);
      miner_.pause(paused);
    });
  });
  return true;
}

int RunLoop::run() {
  if (!start()) return 1;
  t0_ = std::chrono::steady_clock::now();
  while (!g_stop.load()) {
    sleep_one_second();
    tick(uptime());
  }
  shut_down();
  return 0;
}

double RunLoop::uptime() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
}

void RunLoop::tick(double uptime) {
  if (paused_.load()) paused_seconds_ += uptime - last_tick_;
  last_tick_ = uptime;
  if (g_reopen_log.exchange(false)) {
    const std::string error = reopen_log_file();
    if (!error.empty()) log_line(kBad, "cannot reopen the log file %s: %s", opts_.log_file.c_str(), error.c_str());
  }
  pool_lines().tick();
  dev_fee_.step(uptime, stratum_.connected.load());
  pool_switch_.step();
  const ShareCounts counts = stratum_.counts();
  stats_.step(uptime, miner_.hashes(), counts.accepted, counts.rejected, miner_.has_work());
  monitoring_->publish(figures(uptime), miner_.thread_hashes());
}

Snapshot RunLoop::figures(double uptime) const {
  const PoolAddress& pool = pools_[pool_switch_.current()];
  const ShareCounts counts = stratum_.counts();
  Snapshot s;
  s.version = kVersion;
  s.uptime_s = uptime;
  s.pool = host_port(pool.host, pool.port);
  s.connected = stratum_.connected.load();
  s.tls = pool.tls;
  const tlm_setting setting = miner_.setting();  // chosen by measurement with --lanes auto
  s.kernel = setting.kernel != nullptr ? setting.kernel->name : tlm_engine_isa();
  s.lanes = setting.lanes;
  s.threads = opts_.threads;
  s.rate_10s = stats_.rates().rate_over(10);
  s.rate_60s = stats_.rates().rate_over(60);
  s.rate_15m = stats_.rates().rate_over(900);
  s.hashes = miner_.hashes();
  s.found = miner_.found();
  s.accepted = counts.accepted;
  s.rejected = counts.rejected;
  s.unanswered = counts.unanswered;
  s.dropped = counts.dropped;
  s.difficulty = difficulty_.load();
  s.last_share_time = last_share_time_.load();
  return s;
}

void RunLoop::shut_down() {
  // The threads stop first, so the pool client sees every share found; "stopping"
  // comes last, so nothing is logged after it.
  monitoring_->stop();
  miner_.stop();
  stratum_.stop();
  pool_switch_.stop();
  const double seconds = uptime();
  // Paused seconds hash nothing: the average is over the time spent mining.
  const double mining = seconds - paused_seconds_;
  const double average = mining > 0 ? static_cast<double>(miner_.hashes()) / mining : 0.0;
  log_line(kStrong, "%s", exit_summary(seconds, average, miner_.found(), stratum_.counts()).c_str());
  log_line(kMuted, "stopping");
  // Enough for any reader that is reading; one that is not must not hold the exit.
  flush_log(std::chrono::milliseconds(300));
}

}  // namespace tlm
