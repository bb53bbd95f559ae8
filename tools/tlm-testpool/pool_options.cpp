#include "tools/tlm-testpool/pool_options.h"

namespace testpool {

namespace {

// Intervals become clock durations, which must neither vanish nor overflow.
constexpr double kMinInterval = 0.01;
constexpr double kMaxSeconds = 1e7;

}  // namespace

tool_cli::Parsed parse_pool_options(int argc, const char* const* argv, PoolOptions& opts) {
  using tool_cli::set_decimal;
  using tool_cli::set_flag;
  using tool_cli::set_text;
  using tool_cli::set_whole;
  const auto retarget = [&opts](const char* option, const char* value) {
    if (std::string(value) == "0") return true;
    return tool_cli::read_decimal(option, value, kMinInterval, kMaxSeconds, opts.retarget_interval);
  };
  const auto reject_reason = [&opts](const char*, const char* value) {
    opts.reject_all = true;
    opts.reject_reason = value;
    return true;
  };
  const tool_cli::Tool tool{
      "tlm-testpool", "[options]",
      "A Stratum pool on 127.0.0.1 that hands out jobs, checks every share with the\n"
      "reference hash and can misbehave on request. It stops on Ctrl-C or SIGTERM.",
      {
          {"port", 0, "n", "listen on 127.0.0.1:n (default 0: any free port)", set_whole(opts.port, 0, 65535)},
          {"prefix-bytes", 0, "n", "nonce prefix size, 1 to 7 (default 4)", set_whole(opts.prefix_bytes, 1, 7)},
          {"difficulty", 0, "d", "share difficulty (default 250000)", set_decimal(opts.difficulty, 1e-9, 1e30)},
          {"job-interval", 0, "s", "seconds between new jobs (default 30)",
           set_decimal(opts.job_interval, kMinInterval, kMaxSeconds)},
          {"seconds", 0, "s", "stop after s seconds (default: run until Ctrl-C)",
           set_decimal(opts.seconds, 0, kMaxSeconds)},
          {"summary", 0, "file", "write a JSON summary of the shares on stop", set_text(opts.summary_file)},
          {"refuse-login", 0, "reason", "refuse every login with this reason",
           tool_cli::set_nonempty_text(opts.refuse_login)},
          {"tls", 0, nullptr, "serve TLS with a certificate made at start", set_flag(opts.tls)},
          {"tls-cert", 0, "file", "serve TLS with this PEM certificate chain (with --tls-key)",
           set_text(opts.tls_cert)},
          {"tls-key", 0, "file", "the PEM private key of --tls-cert", set_text(opts.tls_key)},
          {nullptr, 0, nullptr, "Fault modes", nullptr},
          {"close-after", 0, "n", "close each connection after sending n lines",
           set_whole(opts.close_after, 1, 1000000)},
          {"garbage", 0, nullptr, "send junk lines between the real ones", set_flag(opts.garbage)},
          {"overlong-line", 0, nullptr, "after the first job, send over 1 MiB without a line feed",
           set_flag(opts.overlong_line)},
          {"silent", 0, nullptr, "after the first job, send nothing more", set_flag(opts.silent)},
          {"send-reconnect", 0, nullptr, "after the first job, send client.reconnect", set_flag(opts.send_reconnect)},
          {"split-writes", 0, nullptr, "write every line in pieces of a few bytes", set_flag(opts.split_writes)},
          {"retarget-interval", 0, "s", "change the target without a new job every s seconds (0: never)",
           retarget},
          {"reject-all", 0, nullptr, "reject every share", set_flag(opts.reject_all)},
          {"reject-reason", 0, "text", "reject every share with this reason", reject_reason},
          {"bad-jobs", 0, nullptr, "follow every job with jobs that each break one rule", set_flag(opts.bad_jobs)},
          {"drop-every", 0, "s", "close every connection every s seconds",
           set_decimal(opts.drop_interval, kMinInterval, kMaxSeconds)},
          {"hang-up-after", 0, "s", "close each connection s seconds after it was accepted",
           set_decimal(opts.hang_up_after, kMinInterval, kMaxSeconds)},
          {"faulty-connections", 0, "n", "the faults that end connections hit only the first n",
           set_whole(opts.faulty_connections, 0, 1000000)},
          {"stall-after", 0, "s", "stop reading s seconds after the start (with --stall-for)",
           set_decimal(opts.stall_after, 0, kMaxSeconds)},
          {"stall-for", 0, "s", "read nothing from any miner for s seconds", set_decimal(opts.stall_for, 0, kMaxSeconds)},
          {"stray-replies", 0, nullptr, "follow each share reply with a repeat and replies to no request",
           set_flag(opts.stray_replies)},
      }};
  const tool_cli::Parsed parsed = tool_cli::parse(tool, argc, argv);
  if (parsed != tool_cli::Parsed::kRun) return parsed;
  if (opts.tls_cert.empty() != opts.tls_key.empty()) {
    tool_cli::print_error("--tls-cert and --tls-key go together");
    return tool_cli::Parsed::kExitError;
  }
  if (!opts.tls_cert.empty()) opts.tls = true;
  return parsed;
}

}  // namespace testpool
