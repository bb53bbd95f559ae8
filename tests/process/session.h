// The real miner and tlm-testpool as separate processes on loopback, watched from
// the outside: the miner's log lines, its exit code
// and resident memory, and the pool's log and JSON summary; and the books of
// shares that both keep.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/process.h"

namespace faults {

using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// Time from a stop signal to the exit: the miner promises 2 s; the sanitizer
// builds get some slack.
inline constexpr double kStopSeconds = kSanitized ? 4.0 : 2.0;

// Share difficulty that gives one thread a share every second or so in every build.
const char* share_difficulty();

// The test pool's options for the self-signed certificate in tests/process/data,
// and that certificate's fingerprint as
// `openssl x509 -noout -fingerprint -sha256` gives it.
std::vector<std::string> fixture_certificate_options();
inline constexpr const char* kCertificateSha256 =
    "AB:B6:87:8F:C3:98:7A:83:F1:3B:F5:FB:FD:27:6E:E6:48:98:BB:D5:BF:42:A8:A2:16:D5:36:77:A0:90:2B:09";

using testing_support::read_file;
using testing_support::TempDir;

// tlm-testpool on 127.0.0.1 with a port of its own choosing and a summary file.
class Pool {
 public:
  explicit Pool(std::vector<std::string> args);
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  uint16_t port() const { return port_; }
  // Reads whatever the pool has printed, without waiting, so its pipe never fills.
  void pump();
  // Lines the pool printed so far that contain `text`.
  size_t count(const std::string& text) const;
  // Everything the pool printed so far, one line each, for failure messages.
  std::string log_text() const;
  // Stops the pool (SIGTERM) and returns its JSON summary; empty on failure.
  std::string stop_and_summarize();

 private:
  TempDir dir_;
  std::unique_ptr<testing_support::Process> child_;
  uint16_t port_ = 0;
  std::vector<std::string> lines_;
};

// The miner as it ships, one mining thread unless `extra` says otherwise, no
// colours; in a terminal of its own when `terminal` is set, with `prepare` run in
// it before it starts.
class Miner {
 public:
  Miner(uint16_t port, std::vector<std::string> extra = {}, const std::string& host = "127.0.0.1",
        bool terminal = false, std::function<void()> prepare = {});
  Miner(const Miner&) = delete;
  Miner& operator=(const Miner&) = delete;

  // Reads log lines (and keeps `pool`'s pipe drained) until `done` holds or
  // timeout_ms passes; false on time-out or when the miner's output ended.
  bool until(const std::function<bool()>& done, int timeout_ms, Pool* pool = nullptr);
  // Shorthand: until at least `n` messages start with `prefix`.
  bool until_count(const std::string& prefix, size_t n, int timeout_ms, Pool* pool = nullptr);
  // Messages that start with `prefix`.
  size_t count(const std::string& prefix) const;
  // Index of the last message that starts with `prefix`, or -1.
  int last_index(const std::string& prefix) const;

  // Sends `sig`, waits for the exit (reading the rest of the log) and returns the
  // exit code, -1 when killed; `seconds` gets the time from signal to exit.
  int stop(int sig, double* seconds = nullptr);
  // A field of /proc/PID/status in kB ("VmRSS", "VmHWM") or a count ("Threads").
  long status_field(const std::string& name) const;

  pid_t pid() const { return child_.pid(); }
  // The terminal (see testing_support::Process).
  void press(char key) { child_.press(key); }
  termios terminal_mode() const { return child_.terminal_mode(); }

  // The messages so far, without their time stamps.
  const std::vector<std::string>& log() const { return log_; }
  std::string log_text() const;  // for failure messages

 private:
  bool read_one(int timeout_ms);

  testing_support::Process child_;
  std::vector<std::string> log_;
};

// Sends `sig` and expects exit code 0 within kStopSeconds.
void expect_prompt_stop(Miner& miner, int sig);

// The first number after the text `key` (a regular expression) in `text`, or -1.
long number_after(const std::string& text, const std::string& key);

// True when a share was accepted after the last log line that starts with `prefix`.
bool accepted_after_last(const Miner& m, const std::string& prefix);

// Stops the pool and expects that every share the miner sent was accepted there and
// that the miner accounts for every share it found: the counts of its exit
// summary add up and match the shares it logged as found, dropped and
// unanswered, and every "share found" comes before the answer to it.
void expect_no_share_lost(const Miner& miner, Pool& pool);

}  // namespace faults
