#include "app/run.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <ctime>
#include <iterator>
#include <string>

#include "app/console/log.h"
#include "app/cpu_model.h"
#include "app/dev_fee.h"
#include "app/console/event_lines.h"
#include "app/monitor/monitoring.h"
#include "app/console/product.h"
#include "app/pool_switch.h"
#include "app/monitor/statistics.h"
#include "app/threads.h"
#include "engine/engine.h"
#include "miner/miner.h"
#include "miner/target.h"
#include "stratum/stratum.h"

namespace tlm {

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int) { g_stop.exchange(true); }

// A stop signal ends the sleep at once; any other keeps it going.
void sleep_one_second() {
  timespec left{1, 0};
  while (nanosleep(&left, &left) == -1 && errno == EINTR && !g_stop.load()) {
  }
}

// What a running miner shows beyond its log: fixed figures first, the rest filled
// in once a second by the main loop.
Snapshot fixed_figures(const Options& opts) {
  Snapshot s;
  s.version = kVersion;
  s.pool = host_port(opts.pool.host, opts.pool.port);
  s.tls = opts.pool.tls;
  s.kernel = tlm_engine_isa();
  s.lanes = opts.lanes;
  s.threads = opts.threads;
  return s;
}

}  // namespace

int run(Options opts) {
  tlm_engine_global_init();
  if (!opts.kernel.empty()) {
    if (const char* refusal = tlm_engine_use(opts.kernel.c_str())) {
      log_line(kBad, "%s", refusal);
      return 1;
    }
  }
  if (tlm_engine_selftest(opts.lanes) != 0) {
    log_line(kBad, "self-test failed on this CPU: hashes would be wrong, stopping");
    return 1;
  }
  opts.threads = effective_threads(opts.threads);
  const std::string user = pool_user(opts.wallet, opts.rig_id);

  // From here on no thread waits for standard output. Flushing what start-up
  // printed may still block; until the handlers below, a stop signal ends the
  // process there.
  start_without_stop_signals(start_log_writer);
  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  // A closed terminal or a supervisor's reload signal stops as cleanly as SIGTERM.
  signal(SIGHUP, on_signal);
  signal(SIGPIPE, SIG_IGN);
  // The terminal never stops the miner: in the background, reading it fails
  // instead (the keyboard waits for the front) and writing to it goes on, also
  // with `stty tostop`.
  signal(SIGTTIN, SIG_IGN);
  signal(SIGTTOU, SIG_IGN);
  // A parent process may have left them blocked, which would make the miner
  // impossible to stop.
  const sigset_t stop = stop_signals();
  pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
  log_line(kStrong, "pool %s:%u · user %s · %d threads · 1%% dev fee", opts.pool.host.c_str(),
       static_cast<unsigned>(opts.pool.port), user.c_str(), opts.threads);
  log_line(kMuted, "cpu %s · kernel %s · %d lanes · %d threads", cpu_model().c_str(), tlm_engine_choice(), opts.lanes,
       opts.threads);
  if (opts.tls_insecure && !opts.tls_fingerprint) {
    log_line(kBad, "--tls-insecure: TLS pools are not checked, anyone on the way can pose as the pool");
  }

  Monitoring monitoring(fixed_figures(opts));
  if (!opts.api_host.empty()) {
    bool listening = false;
    start_without_stop_signals(
        [&] { listening = monitoring.start_api(opts.api_host, opts.api_port, opts.api_token); });
    if (!listening) {
      flush_log(std::chrono::milliseconds(300));
      return 1;
    }
  }
  std::atomic<double> difficulty{0};
  std::atomic<int64_t> last_share_time{0};

  Stratum::Timing client_timing;
  client_timing.silence = opts.pool_silence;
  Stratum stratum(client_timing);
  Miner miner(&stratum);
  Stratum::Config config;
  config.pool = opts.pool;
  config.login = {user, opts.password, std::string(kProductName) + "/" + kVersion};
  config.tls_settings.pin = opts.tls_fingerprint;
  config.tls_settings.insecure = opts.tls_insecure;
  // Every change of login or pool: the job is withdrawn and the client restarted.
  auto restart = [&](const std::function<void()>& change) {
    miner.withdraw();
    stratum.stop();
    // A job the old connection was publishing while we withdrew may have put it
    // back; with the connection thread joined, withdrawing again is final.
    miner.withdraw();
    change();
    start_without_stop_signals([&] { stratum.start(config); });
  };
  std::vector<PoolAddress> pools{opts.pool};
  pools.insert(pools.end(), opts.backup_pools.begin(), opts.backup_pools.end());
  Failover::Timing failover_timing;
  failover_timing.job_wait = opts.job_wait;
  failover_timing.probe_every = opts.probe_interval;
  PoolSwitch pool_switch(pools, failover_timing, config, restart);

  JobReporter jobs;
  stratum.on_dial = [&](bool connected) { pool_switch.dialled(connected); };
  stratum.on_work = [&](const Work& w) {
    pool_switch.job();
    miner.set_work(w);
    difficulty.store(share_difficulty(std::data(w.target)));
    jobs.report(w.job_id, w.clean, difficulty.load());
  };
  // Without a connection no share could be sent: the threads sleep.
  stratum.on_lost = [&] { miner.withdraw(); };
  stratum.on_ended = [&] { pool_switch.ended(); };
  stratum.on_share = [&](const ShareResult& r) { report_share_result(r, stratum.counts()); };
  stratum.on_message = report_pool_message;
  miner.on_found = [&](double reached) {
    last_share_time.store(time(nullptr));
    report_share_found(reached);
  };
  bool started = false;
  start_without_stop_signals([&] { started = miner.start(opts.threads, opts.lanes); });
  if (!started) {
    log_line(kBad, "cannot start %d mining threads: the system refused one, stopping", opts.threads);
    return 1;
  }

  start_without_stop_signals([&] { stratum.start(config); });
  start_without_stop_signals([&] { monitoring.start_keyboard([&](bool paused) { miner.pause(paused); }); });

  const auto t0 = std::chrono::steady_clock::now();
  Statistics stats(opts.stats_file, opts.threads);
  DevFee dev_fee([&](bool to_fee) { restart([&] { config.login.user = to_fee ? kDevFeeWallet : user; }); });

  while (!g_stop.load()) {
    sleep_one_second();
    const auto elapsed = std::chrono::steady_clock::now() - t0;
    const double uptime =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) / 1e9;
    dev_fee.step(uptime, stratum.connected.load());
    pool_switch.step();
    const ShareCounts counts = stratum.counts();
    stats.step(uptime, miner.hashes(), counts.accepted, counts.rejected, miner.has_work());

    Snapshot now = monitoring.fixed();
    now.uptime_s = uptime;
    now.pool = host_port(config.pool.host, config.pool.port);  // the backup in use, after a switch
    now.tls = config.pool.tls;
    now.connected = stratum.connected.load();
    now.rate_10s = stats.rates().rate_over(10);
    now.rate_60s = stats.rates().rate_over(60);
    now.rate_15m = stats.rates().rate_over(900);
    now.hashes = miner.hashes();
    now.found = miner.found();
    now.accepted = counts.accepted;
    now.rejected = counts.rejected;
    now.unanswered = counts.unanswered;
    now.dropped = counts.dropped;
    now.difficulty = difficulty.load();
    now.last_share_time = last_share_time.load();
    monitoring.publish(now, miner.thread_hashes());
  }

  // The threads stop first, so the pool client sees every share found; "stopping"
  // comes last, so nothing is logged after it.
  monitoring.stop();
  miner.stop();
  stratum.stop();
  pool_switch.stop();
  const double uptime = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  report_exit_summary(uptime, uptime > 0 ? static_cast<double>(miner.hashes()) / uptime : 0.0, miner.found(),
                      stratum.counts());
  log_line(kMuted, "stopping");
  // Enough for any reader that is reading; one that is not must not hold the exit.
  flush_log(std::chrono::milliseconds(300));
  return 0;
}

}  // namespace tlm
