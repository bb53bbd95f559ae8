// The connection thread of tlm::Stratum: the receive loop with its line
// splitting and time-outs, reconnect pauses with back-off, and the locked sender.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "stratum/stratum.h"

namespace tlm {

namespace {

constexpr size_t kChunk = 16384;
// Unterminated text beyond this is not a line any pool would send.
constexpr size_t kMaxPending = 1048576;
constexpr int kPollMs = 1000;
constexpr int kRetryTicks = 30;  // the pause after a connection ends
constexpr int kMaxBackoff = 30;  // seconds

// Sleeps `d` in full: a signal interrupting the sleep does not shorten it.
void sleep_for(std::chrono::milliseconds d) {
  timespec left{static_cast<time_t>(d.count() / 1000), static_cast<long>(d.count() % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// The fault tests build a second executable from this file with
// TLM_TEST_SILENCE_MS set, so that a silent pool is noticed in seconds; the
// program itself always waits the full 10 minutes.
Stratum::Timing default_timing() {
  Stratum::Timing t;
#ifdef TLM_TEST_SILENCE_MS
  t.silence = std::chrono::milliseconds(TLM_TEST_SILENCE_MS);
#endif
  return t;
}

}  // namespace

Stratum::Stratum() : Stratum(default_timing()) {}

Stratum::Stratum(Timing timing) : timing(timing) {}

Stratum::~Stratum() { stop(); }

void Stratum::start(const Config& config) {
  // Never replace a live thread: a caller that forgot stop gets it done here.
  stop();
  host = config.host;
  port = config.port;
  password = config.password;
  agent = config.agent;
  {
    // Miner threads may be submitting on the way out of the previous session.
    std::lock_guard<std::mutex> lock(fd_mutex);
    user = config.user;
  }
  running = true;
  conn_thread = std::thread([this] { run(); });
}

void Stratum::stop() {
  if (!running.exchange(false)) return;
  {
    std::lock_guard<std::mutex> lock(fd_mutex);
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
  }
  if (conn_thread.joinable()) conn_thread.join();
}

void Stratum::report(const std::string& text) {
  if (on_message) on_message(text);
}

void Stratum::run() {
  int backoff = 1;
  while (running) {
    if (!dial()) {
      pause(backoff * 10);
      backoff = std::min(backoff * 2, kMaxBackoff);
      continue;
    }
    extranonce1.clear();
    have_job = false;
    have_target = false;
    connected = true;
    report("connected to " + host + ":" + std::to_string(port));
    send_line(subscribe_request());
    send_line(authorize_request());
    receive_loop();
    disconnect();
    if (!running) break;
    report("disconnected, retrying");
    pause(kRetryTicks);
    backoff = 1;
  }
}

void Stratum::receive_loop() {
  std::string recv_buf;
  auto last_data = std::chrono::steady_clock::now();
  char chunk[kChunk];
  while (running) {
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, kPollMs);
    if (ready < 0) {
      if (errno != EINTR) return;
    } else if (ready > 0) {
      ssize_t got = recv(fd, chunk, sizeof chunk, 0);
      if (got <= 0) return;  // closed by the peer, an error, or shut down by us
      recv_buf.append(chunk, static_cast<size_t>(got));
      last_data = std::chrono::steady_clock::now();
      size_t begin = 0;
      for (size_t lf; (lf = recv_buf.find('\n', begin)) != std::string::npos; begin = lf + 1) {
        if (lf > begin) handle(recv_buf.substr(begin, lf - begin));
      }
      recv_buf.erase(0, begin);
      if (recv_buf.size() > kMaxPending) return;
    }
    if (std::chrono::steady_clock::now() - last_data > timing.silence) {
      report("no data from the pool for 10 min, reconnecting");
      return;
    }
  }
}

void Stratum::disconnect() {
  std::lock_guard<std::mutex> lock(fd_mutex);
  if (fd >= 0) close(fd);
  fd = -1;
  connected = false;
}

void Stratum::pause(int ticks) {
  for (int i = 0; i < ticks && running; ++i) sleep_for(timing.tick);
}

void Stratum::drop_connection() {
  std::lock_guard<std::mutex> lock(fd_mutex);
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

bool Stratum::send_line(const std::string& line) {
  std::lock_guard<std::mutex> lock(fd_mutex);
  return send_locked(line);
}

bool Stratum::send_locked(const std::string& line) {
  if (fd < 0) return false;
  std::string data = line + "\n";
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      // Part of the line is already out: anything sent after it would be glued to
      // it and misread by the pool, so this connection is finished.
      if (sent > 0) shutdown(fd, SHUT_RDWR);
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace tlm
