// The Stratum server of tlm-testpool: one thread, one poll loop, any number of
// miners on 127.0.0.1, with optional fault modes.
#pragma once

#include <csignal>
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/tlm-testpool/job.h"
#include "tools/tlm-testpool/pool_options.h"
#include "tools/tlm-testpool/share_check.h"
#include "tools/tlm-testpool/summary.h"
#include "tools/tlm-testpool/tls_server.h"

namespace tlm {
class Json;
}

namespace testpool {

class PoolServer {
 public:
  PoolServer(const PoolOptions& options, HashFn hash);
  ~PoolServer();
  PoolServer(const PoolServer&) = delete;
  PoolServer& operator=(const PoolServer&) = delete;

  // Binds 127.0.0.1 on the configured port and logs "listening on 127.0.0.1:PORT",
  // with --tls followed by " over TLS, certificate SHA-256 " and its fingerprint.
  // False (with a logged reason) when that fails.
  bool listen();
  // Serves until `stop` becomes non-zero or the time limit passes.
  void run(const volatile sig_atomic_t& stop);

  const Summary& summary() const { return summary_; }

 private:
  struct Connection;
  struct IssuedJob {
    Job job;
    std::set<std::string> seen;  // shares already submitted for it
  };

  void accept_all();
  // Reads what the miners had already sent when the server was told to stop, so
  // the summary counts every share that reached it.
  void drain();
  void read_from(Connection& c);
  void handle_line(Connection& c, const std::string& line);
  void on_subscribe(Connection& c, const std::string& id);
  void on_authorize(Connection& c, const std::string& id, const tlm::Json* params);
  void on_submit(Connection& c, const std::string& id, const tlm::Json* params);
  void new_job();
  void retarget();
  // Queues one line (a line feed is added), applying the fault modes.
  void send(Connection& c, const std::string& line);
  void send_job(Connection& c);
  void flush(Connection& c);
  void close_connection(Connection& c, const char* why);

  const PoolOptions options_;
  const HashFn hash_;
  TlsServer tls_;  // set up by listen with --tls
  int listen_fd_ = -1;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::deque<IssuedJob> jobs_;  // newest last; older ones are forgotten
  uint64_t job_count_ = 0;
  uint64_t connection_count_ = 0;
  bool hard_target_ = false;  // --retarget-interval alternates between D and 2D
  Summary summary_;
};

}  // namespace testpool
