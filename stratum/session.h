// The Stratum protocol of one pool client, without a socket: the requests it
// sends at the start of a connection and for each share, and what it makes of the
// pool's lines (jobs, targets, reconnect requests, replies). The caller moves the
// bytes and says what time it is. Used by one thread at a time, the connection
// thread; counts() may be read from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "miner/share_sink.h"
#include "miner/work.h"

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
  uint64_t sent = 0;  // written in full to a connection
  uint64_t accepted = 0;
  uint64_t rejected = 0;
  uint64_t unanswered = 0;  // no reply within the time-out, or the connection ended first
  uint64_t in_flight = 0;   // still awaiting a reply when the client was stopped
  uint64_t dropped = 0;     // never sent: queue full, or their connection ended
};

class Session {
 public:
  using Clock = std::chrono::steady_clock;

  struct Login {
    std::string user;      // first parameter of mining.authorize and of every mining.submit
    std::string password;  // second parameter of mining.authorize
    std::string agent;     // sole parameter of mining.subscribe
  };

  struct Timing {
    std::chrono::milliseconds unanswered{60000};     // a share without reply counts unanswered
    std::chrono::milliseconds refused_login{30000};  // no job this long after a refused login: give up
  };

  Session() : Session(Timing()) {}
  explicit Session(Timing timing) : timing_(timing) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Each is skipped when empty.
  std::function<void(const Work&)> on_work;          // a job (or a new target) is published
  std::function<void(const ShareResult&)> on_share;  // the reply to a share
  std::function<void(const std::string& text)> on_message;  // one status line

  // A new connection that logs in as `login`: what the last one said of nonce
  // prefix, target and job is forgotten, and the subscribe and authorize lines
  // are queued. Publication numbers and request ids go on from the last one.
  void begin(const Login& login);
  // One line from the pool, without its line feed, received at `now`.
  void receive(const std::string& line, Clock::time_point now);
  // Queues the mining.submit line for `share` and returns its request id.
  uint64_t submit(const Share& share);
  // The submission `id` was written in full at `now`: its reply is awaited.
  void sent(uint64_t id, Clock::time_point now);
  // The lines queued since the last call, each ending with a line feed.
  std::string take_output();
  // Counts replies awaited for longer than the time-out as unanswered, and gives
  // up on a connection whose login was refused when no job came in time.
  void tick(Clock::time_point now);
  // The latest time at which tick must run next; none when any time will do.
  std::optional<Clock::time_point> deadline() const;
  // The connection should end: the pool asked to reconnect, its subscribe answer
  // was unusable, or its login was refused and no job followed.
  bool ended() const { return ended_; }
  // It ended for the refused login: dialling again at once would meet the same answer.
  bool login_given_up() const { return login_given_up_; }
  // The connection is gone: replies still awaited count as unanswered, or as in
  // flight when the client is stopping.
  void end(bool stopping);

  // The number the next publication will carry.
  uint64_t next_seq() const { return job_seq_ + 1; }
  // Shares by outcome so far; `dropped` is not the session's to know and stays 0.
  ShareCounts counts() const;

 private:
  void report(const std::string& text);
  void handle_message(const std::string& line, Clock::time_point now);
  // Counts a line that is not a JSON object and reports the count now and then.
  void count_unreadable(Clock::time_point now);
  // Per-message parts of receive; `params` may be null.
  void set_target(const Json* params);
  void notify(const Json* params);
  void reply(const Json& root, Clock::time_point now);
  void share_result(uint64_t id, const Json* result, const Json* error, const std::string& error_text,
                    Clock::time_point now);
  void ignore_reply(Clock::time_point now);
  // Hands the job to on_work once job, target and nonce prefix are all known.
  void publish();

  const Timing timing_;
  Login login_;
  std::string out_;  // lines not yet taken
  // Per connection.
  std::vector<uint8_t> extranonce1_;
  uint8_t target_[32] = {};
  bool have_target_ = false;
  bool have_job_ = false;
  bool ended_ = false;
  bool login_given_up_ = false;
  std::optional<Clock::time_point> refused_at_;  // login refused and no job since
  // For the life of the client.
  Work work_;
  uint64_t job_seq_ = 0;
  uint64_t next_id_ = 10;
  std::map<uint64_t, Clock::time_point> pending_;  // share id -> time sent in full
  uint64_t stray_replies_ = 0;  // ignored since the last line that said so
  std::optional<Clock::time_point> stray_logged_;
  uint64_t unreadable_ = 0;  // lines not yet reported as unreadable
  std::optional<Clock::time_point> unreadable_logged_;
  std::atomic<uint64_t> sent_{0}, accepted_{0}, rejected_{0}, unanswered_{0}, in_flight_{0};
};

}  // namespace tlm
