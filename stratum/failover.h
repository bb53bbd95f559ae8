// Which of several pools to mine on: the first one given while it works, the
// next one when the current one stops delivering jobs, cannot be reached or does
// not hold its connections, and back to the first one once a probe connection
// shows it delivers jobs again.
// No I/O and no clock of its own: the caller reports events with their time,
// asks what to do, and does it. Not thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tlm {

class Failover {
 public:
  using Time = std::chrono::steady_clock::time_point;

  struct Timing {
    std::chrono::milliseconds job_wait{60000};       // longest wait for a job from the current pool
    int dial_failures = 3;                           // failures in a row that give a pool up
    std::chrono::milliseconds probe_every{120000};   // while on a backup: how often to try the first pool
    // A connection that ends before it has held a job this long fails like a
    // dial: long enough for a pool's next job and a few shares, well under the
    // minutes a working pool keeps a connection.
    std::chrono::milliseconds hold{30000};
  };

  struct Step {
    enum Kind {
      kNone,
      kSwitch,      // stop the probe if it runs, mine on `pool` from now on
      kStartProbe,  // connect to the first pool beside the current one
      kStopProbe,   // the probe failed this time; the next one follows later
    };
    Kind kind = kNone;
    size_t pool = 0;
    std::string reason;  // why, for the log: set with kSwitch
  };

  // `pools` counts the first pool and its backups; with one pool nothing ever
  // switches. Mining starts on pool 0 at `now`.
  Failover(size_t pools, Time now);
  Failover(size_t pools, Time now, Timing timing);

  size_t current() const { return current_; }

  // Events of the connection to `pool`; those of a pool that is no longer the
  // current one (a late report from before a switch) are ignored. `ended` is an
  // end the caller did not ask for.
  void connected(size_t pool);
  void dial_failed(size_t pool);
  void job(size_t pool, Time now);
  void ended(size_t pool, Time now);
  // Events of the probe connection to the first pool; ignored when none runs.
  void probe_dial_failed();
  void probe_job(Time now);
  void probe_ended();

  // What to do now. Each step changes the state, so calling again until kNone
  // yields every step due.
  Step next(Time now);

 private:
  Step switch_to(size_t pool, Time now, std::string reason);
  // "3 connection attempts failed", "3 connections ended within 30 s" or both kinds.
  std::string failures() const;

  const size_t pools_;
  const Timing timing_;
  size_t current_ = 0;
  Time last_job_;  // or when mining moved to the current pool
  // Failures of the current pool in a row: dials, and connections that ended early.
  int failed_dials_ = 0;
  int ended_early_ = 0;
  std::optional<Time> held_since_;  // first job of the current connection
  bool probing_ = false;
  Time next_probe_;
  Time probe_started_;
  bool probe_failed_ = false;
  std::optional<Time> probe_job_at_;
  // The first pool was left for dropping its connections: a probe must hold its
  // job too before mining goes back.
  bool probe_must_hold_ = false;
};

}  // namespace tlm
