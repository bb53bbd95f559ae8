#include "tools/tlm-testpool/pool_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace testpool {

namespace {

// Intervals become clock durations, which must neither vanish nor overflow.
constexpr double kMinInterval = 0.01;
constexpr double kMaxSeconds = 1e7;

bool to_double(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  double v = strtod(text, &end);
  if (end == text || *end != '\0' || errno != 0 || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool to_int(const char* text, long lo, long hi, long& out) {
  char* end = nullptr;
  errno = 0;
  long v = strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || v < lo || v > hi) return false;
  out = v;
  return true;
}

struct Flag {
  const char* name;
  bool PoolOptions::*field;
};

const Flag kFlags[] = {
    {"--garbage", &PoolOptions::garbage},           {"--overlong-line", &PoolOptions::overlong_line},
    {"--silent", &PoolOptions::silent},             {"--send-reconnect", &PoolOptions::send_reconnect},
    {"--split-writes", &PoolOptions::split_writes}, {"--reject-all", &PoolOptions::reject_all},
    {"--bad-jobs", &PoolOptions::bad_jobs},         {"--stray-replies", &PoolOptions::stray_replies},
    {"--tls", &PoolOptions::tls},
};

}  // namespace

const char* pool_usage() {
  return "Usage: tlm-testpool [options]\n"
         "  --port N               listen on 127.0.0.1:N (default 0: any free port)\n"
         "  --prefix-bytes N       nonce prefix size, 1..7 (default 4)\n"
         "  --difficulty D         share difficulty (default 250000)\n"
         "  --job-interval S       seconds between new jobs (default 30)\n"
         "  --seconds S            stop after S seconds (default: run until Ctrl-C)\n"
         "  --summary FILE         write a JSON summary of the shares on stop\n"
         "  --refuse-login REASON  refuse every login with this reason\n"
         "  --tls                  serve TLS with a certificate made at start\n"
         "  --tls-cert FILE        serve TLS with this PEM certificate chain (with --tls-key)\n"
         "  --tls-key FILE         the PEM private key of --tls-cert\n"
         "fault modes:\n"
         "  --close-after N        close each connection after sending N lines\n"
         "  --garbage              send junk lines between the real ones\n"
         "  --overlong-line        after the first job, send over 1 MiB without a line feed\n"
         "  --silent               after the first job, send nothing more\n"
         "  --send-reconnect       after the first job, send client.reconnect\n"
         "  --split-writes         write every line in pieces of a few bytes\n"
         "  --retarget-interval S  change the target without a new job every S seconds\n"
         "  --reject-all           reject every share\n"
         "  --reject-reason TEXT   reject every share with this reason\n"
         "  --bad-jobs             follow every job with jobs that each break one rule\n"
         "  --drop-every S         close every connection every S seconds\n"
         "  --hang-up-after S      close each connection S seconds after it was accepted\n"
         "  --faulty-connections N the faults that end connections hit only the first N\n"
         "  --stall-after S        stop reading S seconds after the start (with --stall-for)\n"
         "  --stall-for S          read nothing from any miner for S seconds\n"
         "  --stray-replies        follow each share reply with a repeat of it and replies\n"
         "                         whose ids no request has\n";
}

bool parse_pool_options(int argc, const char* const* argv, PoolOptions& opts, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") return false;
    bool is_flag = false;
    for (const Flag& flag : kFlags) {
      if (arg == flag.name) {
        opts.*flag.field = true;
        is_flag = true;
      }
    }
    if (is_flag) continue;
    if (i + 1 >= argc) {
      error = arg.compare(0, 2, "--") == 0 ? "missing value for " + arg : "unknown argument " + arg;
      return false;
    }
    const char* value = argv[++i];
    long n = 0;
    bool ok = true;
    if (arg == "--port") {
      ok = to_int(value, 0, 65535, n);
      opts.port = static_cast<uint16_t>(n);
    } else if (arg == "--prefix-bytes") {
      ok = to_int(value, 1, 7, n);
      opts.prefix_bytes = static_cast<int>(n);
    } else if (arg == "--close-after") {
      ok = to_int(value, 1, 1000000, n);
      opts.close_after = static_cast<int>(n);
    } else if (arg == "--faulty-connections") {
      ok = to_int(value, 0, 1000000, n);
      opts.faulty_connections = static_cast<int>(n);
    } else if (arg == "--difficulty") {
      ok = to_double(value, opts.difficulty) && opts.difficulty > 0;
    } else if (arg == "--job-interval") {
      ok = to_double(value, opts.job_interval) && opts.job_interval >= kMinInterval &&
           opts.job_interval <= kMaxSeconds;
    } else if (arg == "--seconds") {
      ok = to_double(value, opts.seconds) && opts.seconds >= 0 && opts.seconds <= kMaxSeconds;
    } else if (arg == "--retarget-interval") {
      ok = to_double(value, opts.retarget_interval) &&
           (opts.retarget_interval == 0 ||
            (opts.retarget_interval >= kMinInterval && opts.retarget_interval <= kMaxSeconds));
    } else if (arg == "--stall-after" || arg == "--stall-for") {
      double& field = arg == "--stall-after" ? opts.stall_after : opts.stall_for;
      ok = to_double(value, field) && field >= 0 && field <= kMaxSeconds;
    } else if (arg == "--drop-every" || arg == "--hang-up-after") {
      double& field = arg == "--drop-every" ? opts.drop_interval : opts.hang_up_after;
      ok = to_double(value, field) && field >= kMinInterval && field <= kMaxSeconds;
    } else if (arg == "--reject-reason") {
      opts.reject_all = true;
      opts.reject_reason = value;
    } else if (arg == "--tls-cert") {
      opts.tls_cert = value;
    } else if (arg == "--tls-key") {
      opts.tls_key = value;
    } else if (arg == "--summary") {
      opts.summary_file = value;
    } else if (arg == "--refuse-login") {
      opts.refuse_login = value;
      ok = !opts.refuse_login.empty();
    } else {
      error = "unknown argument " + arg;
      return false;
    }
    if (!ok) {
      error = "invalid value for " + arg + ": " + value;
      return false;
    }
  }
  if (opts.tls_cert.empty() != opts.tls_key.empty()) {
    error = "--tls-cert and --tls-key go together";
    return false;
  }
  if (!opts.tls_cert.empty()) opts.tls = true;
  return true;
}

}  // namespace testpool
