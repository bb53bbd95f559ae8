// Command line of tlm-testpool.
#pragma once

#include <cstdint>
#include <string>

#include "tools/command_line/command_line.h"

namespace testpool {

struct PoolOptions {
  uint16_t port = 0;             // 0: let the system pick a free port
  int prefix_bytes = 4;          // nonce prefix size per connection, 1..7
  double difficulty = 250000;    // about one share every 3 s at 1.5 MH/s
  double job_interval = 30;      // seconds between jobs
  double seconds = 0;            // stop after this long; 0 runs until a signal
  std::string summary_file;      // JSON summary written on stop, when set
  std::string refuse_login;      // refuse every login with this reason, when set
  bool tls = false;              // serve TLS
  std::string tls_cert;          // PEM certificate chain for TLS; empty: make one at start
  std::string tls_key;           // PEM key of tls_cert

  // Fault modes for testing miners.
  int close_after = 0;           // close each connection after sending this many lines
  bool garbage = false;          // send junk lines between the real ones
  bool overlong_line = false;    // after the first job, send more than 1 MiB without a line feed
  bool silent = false;           // after the first job, send nothing more
  bool send_reconnect = false;   // after the first job, ask the miner to reconnect
  bool split_writes = false;     // write every line in pieces of a few bytes
  double retarget_interval = 0;  // seconds between target changes without a new job
  bool reject_all = false;       // answer every share with a rejection
  std::string reject_reason = "rejected for testing";  // the reason given with --reject-all
  bool bad_jobs = false;         // follow every job with jobs that each break one rule
  double drop_interval = 0;      // seconds between closing every connection; 0: never
  double hang_up_after = 0;      // close each connection this many seconds after accepting it; 0: never
  int faulty_connections = 0;    // the connection-ending faults hit only the first N; 0: all
  double stall_after = 0;        // seconds from the start until reading stops for stall_for
  double stall_for = 0;          // seconds without reading from any miner; 0: never
  bool stray_replies = false;    // follow each share reply with replies to no request
};

// Fills `opts` from the arguments, the miner's way (see tools/command_line).
tool_cli::Parsed parse_pool_options(int argc, const char* const* argv, PoolOptions& opts);

}  // namespace testpool
