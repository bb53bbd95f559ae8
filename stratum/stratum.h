// The pool client: one Stratum connection (line-delimited JSON-RPC over TCP or
// TLS) on a thread of its own, with reconnects and back-off, reporting through
// callbacks. It moves the bytes; what they say is the Session's. It is the
// miner's share sink: shares wait in a bounded queue that the connection thread
// drains, so a pool that stops reading never holds up a mining thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "miner/share_sink.h"
#include "miner/work.h"
#include "stratum/pool_address.h"
#include "stratum/session.h"
#include "stratum/share_queue.h"
#include "stratum/tls_transport.h"
#include "stratum/transport.h"

namespace tlm {

class Stratum : public ShareSink {
 public:
  struct Config {
    PoolAddress pool;
    Session::Login login;
    TlsSettings tls_settings;  // how the pool's certificate is checked, for a TLS pool
  };

  // Time constants of the connection thread.
  struct Timing {
    std::chrono::milliseconds tick{100};            // a tenth of each second of pause
    std::chrono::milliseconds silence{600000};      // longest gap between received bytes
    std::chrono::milliseconds send_timeout{10000};  // bounds each connect attempt
    Session::Timing session;
  };

  Stratum() : Stratum(Timing()) {}
  explicit Stratum(Timing timing);
  ~Stratum() override;
  Stratum(const Stratum&) = delete;
  Stratum& operator=(const Stratum&) = delete;

  // Set before the first start; each runs on the connection thread and is skipped
  // when empty.
  std::function<void(const Work&)> on_work;                 // a job (or a new target) is published
  std::function<void(const ShareResult&)> on_share;         // the reply to a share
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
  void submit(Share share) override { queue_.push(std::move(share)); }

  ShareCounts counts() const;

  // True from a successful connect until that connection is closed.
  std::atomic<bool> connected{false};

 private:
  // Connects, over TLS when configured: the stream, or null with why in `failure`
  // (empty when told to stop).
  std::unique_ptr<Transport> dial(std::string& failure);
  void run();
  // Serves one connection until it ends or the client stops.
  void serve();
  // How long serve may wait in poll: 1 s, or less when the session needs to act sooner.
  int poll_ms() const;
  // Closes the connection; replies still owed count as unanswered (or in flight
  // when stopping) and queued shares as dropped.
  void disconnect();
  // Reads what has arrived and hands its lines to the session: the bytes read, or
  // -1 when the stream ended or more than 1 MiB came without a line feed.
  ssize_t receive(std::string& recv_buf);
  // Writes pending output, then queued shares one line at a time, as far as the
  // socket takes them without waiting; false when the stream ended.
  bool flush();
  void report_drops();
  // Says `why` and when the next try comes, then waits `d` in ticks, returning
  // early once running is false.
  void pause(const std::string& why, std::chrono::seconds d);
  void report(const std::string& text);  // on_message, when set

  const Timing timing_;
  Config config_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::unique_ptr<Transport> transport_;
  std::string out_;          // output not yet written
  bool heard_ = false;       // whether this connection has received a byte yet
  bool speaks_tls_ = false;  // its first bytes were a TLS record: a TLS port
  uint64_t out_share_ = 0;   // id of the share whose line is in out_, 0: none
  Session session_;
  ShareQueue queue_;
};

}  // namespace tlm
