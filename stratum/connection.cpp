// The connection thread of tlm::Stratum: the loop that reads and writes without
// ever waiting on the socket, reconnect pauses with back-off, and the end of a
// connection with the shares it still owed.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>

#include "stratum/stratum.h"

namespace tlm {

namespace {

constexpr size_t kChunk = 16384;
constexpr int kChunksPerRound = 64;  // so a flood of input cannot starve the writes
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

// The fault tests build a second executable from this file with these set, so
// that silence and a refused login are noticed in seconds; the program itself
// always waits the full times.
Stratum::Timing default_timing() {
  Stratum::Timing t;
#ifdef TLM_TEST_SILENCE_MS
  t.silence = std::chrono::milliseconds(TLM_TEST_SILENCE_MS);
#endif
#ifdef TLM_TEST_REFUSED_LOGIN_MS
  t.refused_login = std::chrono::milliseconds(TLM_TEST_REFUSED_LOGIN_MS);
#endif
  return t;
}

std::string shares(uint64_t n) { return std::to_string(n) + (n == 1 ? " share" : " shares"); }

}  // namespace

Stratum::Stratum() : Stratum(default_timing()) {}

Stratum::Stratum(Timing timing) : timing(timing) {}

Stratum::~Stratum() { stop(); }

void Stratum::start(const Config& config) {
  // Never replace a live thread: a caller that forgot stop gets it done here.
  stop();
  host = config.host;
  port = config.port;
  user = config.user;
  password = config.password;
  agent = config.agent;
  tls = config.tls;
  tls_settings = config.tls_settings;
  running = true;
  conn_thread = std::thread([this] { run(); });
}

void Stratum::stop() {
  if (!running.exchange(false)) return;
  queue.wake();
  if (conn_thread.joinable()) conn_thread.join();
}

void Stratum::report(const std::string& text) {
  if (on_message) on_message(text);
}

ShareCounts Stratum::counts() const {
  return {sent.load(), accepted.load(), rejected.load(), unanswered.load(), in_flight.load(), queue.dropped()};
}

void Stratum::run() {
  int backoff = 1;
  while (running) {
    transport = dial();
    if (on_dial && running) on_dial(transport != nullptr);
    if (transport) {
      extranonce1.clear();
      have_job = false;
      have_target = false;
      end_connection = false;
      refused_at.reset();
      gave_up_on_login = false;
      // Only jobs published from now on carry this connection's nonce prefix.
      queue.open(job_seq + 1);
      connected = true;
      report("connected to " + host + ":" + std::to_string(port));
      report_drops();  // shares of the last connection that came in after it ended
      send_line(subscribe_request());
      send_line(authorize_request());
      serve();
      disconnect();
      if (!running) break;
      if (on_ended) on_ended();
      report("disconnected, retrying");
      // After a refused login the same login would meet the same answer: back off.
      if (!gave_up_on_login) {
        pause(kRetryTicks);
        backoff = 1;
        continue;
      }
    }
    pause(backoff * 10);
    backoff = std::min(backoff * 2, kMaxBackoff);
  }
}

void Stratum::serve() {
  std::string recv_buf;
  auto last_data = Clock::now();
  while (running && !end_connection) {
    pollfd p[2] = {{transport->fd(), transport->events(!out.empty()), 0}, {queue.fd(), POLLIN, 0}};
    if (poll(p, 2, poll_ms()) < 0 && errno != EINTR) return;
    if (p[1].revents & POLLIN) queue.clear_wake();
    const ssize_t got = receive(recv_buf);
    if (got < 0 || !flush()) return;
    const auto now = Clock::now();
    if (got > 0) last_data = now;  // any byte counts, complete line or not
    if (now - last_data > timing.silence) {
      report("no data from the pool for 10 min, reconnecting");
      return;
    }
    if (refused_at && now - *refused_at > timing.refused_login) {
      report("no job since the login was refused, reconnecting");
      gave_up_on_login = true;
      return;
    }
    expire_pending();
    if (queue.empty()) report_drops();
  }
  // Stopping: what the socket takes at once still reaches the pool.
  if (!running) flush();
}

int Stratum::poll_ms() const {
  if (!refused_at) return kPollMs;
  const auto left = *refused_at + timing.refused_login - Clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
  return static_cast<int>(std::clamp<long long>(ms, 0, kPollMs));
}

ssize_t Stratum::receive(std::string& recv_buf) {
  char chunk[kChunk];
  ssize_t total = 0;
  for (int i = 0; i < kChunksPerRound && !end_connection; ++i) {
    const ssize_t got = transport->read(chunk, sizeof chunk);
    if (got < 0) return -1;
    if (got == 0) break;
    total += got;
    recv_buf.append(chunk, static_cast<size_t>(got));
    size_t begin = 0;
    for (size_t lf; (lf = recv_buf.find('\n', begin)) != std::string::npos; begin = lf + 1) {
      if (lf > begin) handle(recv_buf.substr(begin, lf - begin));
    }
    recv_buf.erase(0, begin);
    if (recv_buf.size() > kMaxPending) return -1;
  }
  return total;
}

bool Stratum::flush() {
  for (;;) {
    while (!out.empty()) {
      const ssize_t n = transport->write(out.data(), out.size());
      if (n < 0) return false;
      if (n == 0) return true;
      out.erase(0, static_cast<size_t>(n));
    }
    if (out_share != 0) {
      pending[out_share] = Clock::now();
      ++sent;
      out_share = 0;
    }
    Share share;
    if (!queue.pop(share)) return true;
    out_share = next_id++;
    send_line(submit_request(out_share, share));
  }
}

void Stratum::expire_pending() {
  const auto now = Clock::now();
  uint64_t expired = 0;
  for (auto it = pending.begin(); it != pending.end();) {
    if (now - it->second > timing.unanswered) {
      it = pending.erase(it);
      ++expired;
    } else {
      ++it;
    }
  }
  if (expired == 0) return;
  unanswered += expired;
  report("no answer within " + std::to_string(timing.unanswered.count() / 1000) + " s to " + shares(expired));
}

void Stratum::report_drops() {
  const ShareQueue::Drops d = queue.take_drops();
  if (d.full > 0) report("dropped " + shares(d.full) + ": the pool took them too slowly and the queue was full");
  if (d.ended > 0) {
    report("dropped " + shares(d.ended) +
           (running ? ": their connection ended before they were sent" : ": stopped before they were sent"));
  }
}

void Stratum::disconnect() {
  if (out_share != 0) queue.drop_taken();
  out_share = 0;
  out.clear();
  queue.close();
  report_drops();
  if (!pending.empty()) {
    if (running) {
      unanswered += pending.size();
      report("no answer to " + shares(pending.size()) + ": the connection ended");
    } else {
      in_flight += pending.size();
    }
    pending.clear();
  }
  transport.reset();
  connected = false;
  if (on_lost) on_lost();
}

void Stratum::pause(int ticks) {
  for (int i = 0; i < ticks && running; ++i) {
    sleep_for(timing.tick);
    ++paused_ticks;
  }
}

void Stratum::send_line(const std::string& line) {
  out += line;
  out += '\n';
}

}  // namespace tlm
