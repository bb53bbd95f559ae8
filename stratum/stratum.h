// The pool client: one Stratum connection (line-delimited JSON-RPC over TCP) on a
// thread of its own, with reconnects and back-off, reporting through callbacks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "miner/work.h"

namespace ilvo {
class Json;
}

namespace tlm {

class Stratum {
 public:
  struct Config {
    std::string host;  // name or numeric address, passed to the resolver as is
    uint16_t port = 0;
    std::string user;      // login for mining.authorize and every mining.submit
    std::string password;  // second parameter of mining.authorize
    std::string agent;     // sole parameter of mining.subscribe
  };

  // Time constants of the connection thread. The program always uses the
  // defaults; tests shorten them to watch reconnects and time-outs in seconds.
  struct Timing {
    std::chrono::milliseconds tick{100};            // one step of every pause
    std::chrono::milliseconds silence{600000};      // longest gap between received bytes
    std::chrono::milliseconds send_timeout{10000};  // SO_SNDTIMEO; also bounds each connect
  };

  Stratum();
  explicit Stratum(Timing timing);
  ~Stratum();
  Stratum(const Stratum&) = delete;
  Stratum& operator=(const Stratum&) = delete;

  // Set before the first start; each runs on the connection thread and is skipped
  // when empty.
  std::function<void(const Work&)> on_work;  // a job (or a new target) is published
  std::function<void(bool accepted, const std::string& reason)> on_share;  // share result
  std::function<void(const std::string& text)> on_message;  // one status line

  // Copies the configuration and starts the connection thread. Only while stopped.
  void start(const Config& config);
  // Ends the connection and joins the thread; does nothing when already stopped.
  void stop();

  // Sends one mining.submit line on the current connection, from any thread. The
  // share is dropped when no connection is up, when its job (`seq` is the Work's)
  // was published before this connection began, or when the send fails, and false
  // tells the caller so; the pool's answer arrives through on_share. `ntime`,
  // `nonce` and `solution` must be hex text; they are sent unescaped.
  bool submit(uint64_t seq, const std::string& job_id, const std::string& ntime, const std::string& nonce,
              const std::string& solution);

  // Acts on one line received from the pool (without its line feed). Runs on the
  // connection thread; public so tests and the fuzz target can feed lines without
  // a socket.
  void handle(const std::string& line);

  // True from a successful connect until that connection is closed.
  std::atomic<bool> connected{false};

 private:
  bool dial();
  void run();
  void disconnect();
  bool send_line(const std::string& line);
  // Writes line + "\n" to fd; fd_mutex must be held.
  bool send_locked(const std::string& line);
  // Shuts the socket down so the receive loop ends and the thread reconnects.
  void drop_connection();
  // Waits ticks * tick, returning early once running is false.
  void pause(int ticks);
  void receive_loop();
  void report(const std::string& text);  // on_message, when set

  // The two requests sent at the start of every connection.
  std::string subscribe_request() const;
  std::string authorize_request() const;

  // Acts on one line once framing bytes are gone.
  void handle_message(const std::string& line);
  // Counts a line that is not a JSON object and reports the count now and then.
  void count_unreadable();
  // Per-message parts of handle; `params` may be null.
  void set_target(const ilvo::Json* params);
  void notify(const ilvo::Json* params);
  void reply(const ilvo::Json& root);
  void share_result(const ilvo::Json* result, const std::string& error);
  // Hands the job to on_work once job, target and nonce prefix are all known.
  void publish();

  std::string host;
  uint16_t port = 0;
  std::string user;  // written by start and read by submit, both under fd_mutex
  std::string password;
  std::string agent;
  std::thread conn_thread;
  std::atomic<bool> running{false};
  std::mutex fd_mutex;
  int fd = -1;
  // seq of the first job the current connection can publish, set with fd: older
  // jobs carry an earlier connection's nonce prefix, so their shares are invalid.
  uint64_t first_seq = 1;
  std::atomic<uint64_t> next_id{10};
  std::vector<uint8_t> extranonce1;
  uint8_t target[32] = {};
  bool have_target = false;
  uint64_t job_seq = 0;
  Work work;
  bool have_job = false;
  uint64_t unreadable = 0;  // lines not yet reported as unreadable
  std::chrono::steady_clock::time_point unreadable_reported{};
  const Timing timing;
};

}  // namespace tlm
