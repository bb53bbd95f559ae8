// The pool client: one Stratum connection (line-delimited JSON-RPC over TCP) on a
// thread of its own, with reconnects and back-off, reporting through callbacks. It
// is the miner's share sink: shares wait in a bounded queue that the connection
// thread drains, so a pool that stops reading never holds up a mining thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "miner/share_sink.h"
#include "miner/work.h"
#include "stratum/share_queue.h"
#include "stratum/tls_transport.h"
#include "stratum/transport.h"

namespace tlm {

class Json;

// The pool's answer to one share.
struct ShareResult {
  bool accepted = false;
  std::string reason;  // the pool's error text; empty when it gave none
  std::chrono::milliseconds round_trip{0};
};

// Where the shares handed to the client went. Found by the miner = sent + dropped;
// sent = accepted + rejected + unanswered + in_flight.
struct ShareCounts {
  uint64_t sent = 0;        // written in full to a connection
  uint64_t accepted = 0;
  uint64_t rejected = 0;
  uint64_t unanswered = 0;  // no reply within the time-out, or the connection ended first
  uint64_t in_flight = 0;   // still awaiting a reply when the client was stopped
  uint64_t dropped = 0;     // never sent: queue full, or their connection ended
};

class Stratum : public ShareSink {
 public:
  struct Config {
    std::string host;  // name or numeric address, passed to the resolver as is
    uint16_t port = 0;
    std::string user;      // login for mining.authorize and every mining.submit
    std::string password;  // second parameter of mining.authorize
    std::string agent;     // sole parameter of mining.subscribe
    bool tls = false;          // TLS over the TCP connection
    TlsSettings tls_settings;  // how the pool's certificate is checked
  };

  // Time constants of the connection thread. The program always uses the
  // defaults; tests shorten them to watch reconnects and time-outs in seconds.
  struct Timing {
    std::chrono::milliseconds tick{100};            // one step of every pause
    std::chrono::milliseconds silence{600000};      // longest gap between received bytes
    std::chrono::milliseconds send_timeout{10000};  // bounds each connect attempt
    std::chrono::milliseconds unanswered{60000};    // a share without reply counts unanswered
    std::chrono::milliseconds refused_login{30000};  // no job this long after a refused login: reconnect
  };

  Stratum();
  explicit Stratum(Timing timing);
  ~Stratum() override;
  Stratum(const Stratum&) = delete;
  Stratum& operator=(const Stratum&) = delete;

  // Set before the first start; each runs on the connection thread and is skipped
  // when empty.
  std::function<void(const Work&)> on_work;            // a job (or a new target) is published
  std::function<void(const ShareResult&)> on_share;    // the reply to a share
  std::function<void(const std::string& text)> on_message;  // one status line
  std::function<void()> on_lost;  // the connection ended: its jobs can no longer be mined
  // The connection ended while the client runs (not by stop): the pool or the
  // network ended it, or the client gave up on it. Called after on_lost.
  std::function<void()> on_ended;
  // The end of an attempt to connect (TLS handshake included): whether it worked.
  std::function<void(bool connected)> on_dial;

  // Copies the configuration and starts the connection thread. Only while stopped.
  void start(const Config& config);
  // Ends the connection and joins the thread; does nothing when already stopped.
  // Queued shares get one last chance to be written without waiting.
  void stop();

  // From any thread, never blocks: queues a share for the connection whose job it
  // was mined on. It is dropped (and counted) when that connection has ended.
  void submit(Share share) override;

  // Acts on one line received from the pool (without its line feed). Runs on the
  // connection thread; public so tests and the fuzz target can feed lines without
  // a socket.
  void handle(const std::string& line);

  ShareCounts counts() const;

  // True from a successful connect until that connection is closed.
  std::atomic<bool> connected{false};
  // Ticks spent in pauses so far: the back-off in units that do not depend on
  // how busy the machine is.
  std::atomic<uint64_t> paused_ticks{0};

 private:
  // Connects, over TLS when configured: the stream, or null after saying why.
  std::unique_ptr<Transport> dial();
  void run();
  // Serves one connection until it ends or the client stops.
  void serve();
  // How long serve may wait in poll: 1 s, or less when a refused login runs out.
  int poll_ms() const;
  // Closes the connection; replies still owed count as unanswered (or in flight
  // when stopping) and queued shares as dropped.
  void disconnect();
  // Appends line + "\n" to the output.
  void send_line(const std::string& line);
  // Reads what has arrived and handles its lines: the bytes read, or -1 when the
  // stream ended or more than 1 MiB came without a line feed.
  ssize_t receive(std::string& recv_buf);
  // Writes pending output, then queued shares one line at a time, as far as the
  // socket takes them without waiting; false when the stream ended.
  bool flush();
  // Counts the shares without reply for longer than the time-out.
  void expire_pending();
  void report_drops();
  // Ends the connection; the connection thread dials again.
  void drop_connection() { end_connection = true; }
  // Waits ticks * tick, returning early once running is false.
  void pause(int ticks);
  void report(const std::string& text);  // on_message, when set

  // The two requests sent at the start of every connection.
  std::string subscribe_request() const;
  std::string authorize_request() const;
  std::string submit_request(uint64_t id, const Share& share) const;

  // Acts on one line once framing bytes are gone.
  void handle_message(const std::string& line);
  // Counts a line that is not a JSON object and reports the count now and then.
  void count_unreadable();
  // Per-message parts of handle; `params` may be null.
  void set_target(const Json* params);
  void notify(const Json* params);
  void reply(const Json& root);
  void share_result(uint64_t id, const Json* result, const Json* error, const std::string& error_text);
  void ignore_reply();
  // Hands the job to on_work once job, target and nonce prefix are all known.
  void publish();

  using Clock = std::chrono::steady_clock;

  std::string host;
  uint16_t port = 0;
  std::string user;
  std::string password;
  std::string agent;
  bool tls = false;
  TlsSettings tls_settings;
  std::thread conn_thread;
  std::atomic<bool> running{false};
  std::unique_ptr<Transport> transport;
  std::string out;                // output not yet written
  uint64_t out_share = 0;         // id of the share whose line is in `out`, 0: none
  std::map<uint64_t, Clock::time_point> pending;  // share id -> time sent in full
  bool end_connection = false;
  std::optional<Clock::time_point> refused_at;  // login refused and no job since
  bool gave_up_on_login = false;
  uint64_t stray_replies = 0;  // ignored since the last line that said so
  std::optional<Clock::time_point> stray_logged;
  uint64_t next_id = 10;
  ShareQueue queue;
  std::atomic<uint64_t> sent{0}, accepted{0}, rejected{0}, unanswered{0}, in_flight{0};
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
