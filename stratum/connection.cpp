// The connection thread of tlm::Stratum: the loop that reads and writes without
// ever waiting on the socket, reconnect pauses with back-off, and the end of a
// connection with the shares it still owed.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <utility>

#include "stratum/backoff.h"
#include "stratum/stratum.h"

namespace tlm {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 16384;
constexpr int kChunksPerRound = 64;  // so a flood of input cannot starve the writes
// Unterminated text beyond this is not a line any pool would send.
constexpr size_t kMaxPending = 1048576;
constexpr int kPollMs = 1000;
constexpr int kTicksPerSecond = 10;

// Sleeps `d` in full: a signal interrupting the sleep does not shorten it.
void sleep_for(std::chrono::milliseconds d) {
  timespec left{static_cast<time_t>(d.count() / 1000), static_cast<long>(d.count() % 1000) * 1000000};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::string shares(uint64_t n) { return std::to_string(n) + (n == 1 ? " share" : " shares"); }

// "10 min" or "45 s" (whole minutes from one minute on).
std::string duration_text(std::chrono::milliseconds d) {
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  return s % 60 == 0 && s > 0 ? std::to_string(s / 60) + " min" : std::to_string(s) + " s";
}

}  // namespace

Stratum::Stratum(Timing timing) : timing_(timing), session_(timing.session) {
  session_.on_work = [this](const Work& w) {
    if (on_work) on_work(w);
  };
  session_.on_share = [this](const ShareResult& r) {
    if (on_share) on_share(r);
  };
  session_.on_message = [this](const std::string& text) { report(text); };
}

Stratum::~Stratum() { stop(); }

void Stratum::start(const Config& config) {
  // Never replace a live thread: a caller that forgot stop gets it done here.
  stop();
  config_ = config;
  running_ = true;
  thread_ = std::thread([this] { run(); });
}

void Stratum::stop() {
  if (!running_.exchange(false)) return;
  queue_.wake();
  if (thread_.joinable()) thread_.join();
}

void Stratum::report(const std::string& text) {
  if (on_message) on_message(text);
}

ShareCounts Stratum::counts() const {
  ShareCounts c = session_.counts();
  c.dropped = queue_.dropped();
  return c;
}

void Stratum::run() {
  Backoff backoff;
  const std::string where = host_port(config_.pool.host, config_.pool.port);
  while (running_) {
    std::string failure;
    transport_ = dial(failure);
    if (on_dial && running_) on_dial(transport_ != nullptr);
    if (!transport_) {
      pause(failure, backoff.after_failure());
      continue;
    }
    session_.begin(config_.login);
    out_ = session_.take_output();
    // Only jobs published from now on carry this connection's nonce prefix.
    queue_.open(session_.next_seq());
    connected = true;
    heard_ = speaks_tls_ = false;
    report("connected to " + where);
    report_drops();  // shares of the last connection that came in after it ended
    serve();
    const bool login_given_up = session_.login_given_up();
    disconnect();
    if (!running_) break;
    if (on_ended) on_ended();
    if (speaks_tls_) {
      report(where + " speaks TLS: use stratum+ssl://" + where);
      pause("disconnected", backoff.after_failure());
      continue;
    }
    // Many TLS servers close on a plain line without an answer.
    const std::string ended = !heard_ && !config_.pool.tls ? "disconnected before the pool sent a byte (a TLS port? "
                                                             "use stratum+ssl://" + where + ")"
                                                           : "disconnected";
    // After a refused login the same login would meet the same answer: back off.
    pause(ended, login_given_up ? backoff.after_failure() : backoff.after_connection());
  }
}

void Stratum::serve() {
  std::string recv_buf;
  auto last_data = Clock::now();
  while (running_ && !session_.ended()) {
    pollfd p[2] = {{transport_->fd(), transport_->events(!out_.empty()), 0}, {queue_.fd(), POLLIN, 0}};
    if (poll(p, 2, poll_ms()) < 0 && errno != EINTR) return;
    if (p[1].revents & POLLIN) queue_.clear_wake();
    const ssize_t got = receive(recv_buf);
    if (got < 0 || !flush()) return;
    const auto now = Clock::now();
    if (got > 0) last_data = now;  // any byte counts, complete line or not
    if (now - last_data > timing_.silence) {
      report("no data from the pool for " + duration_text(timing_.silence) + ", reconnecting");
      return;
    }
    session_.tick(now);
    if (queue_.empty()) report_drops();
  }
  // Stopping: what the socket takes at once still reaches the pool.
  if (!running_) flush();
}

int Stratum::poll_ms() const {
  const std::optional<Clock::time_point> deadline = session_.deadline();
  if (!deadline) return kPollMs;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count() + 1;
  return static_cast<int>(std::clamp<long long>(ms, 0, kPollMs));
}

ssize_t Stratum::receive(std::string& recv_buf) {
  char chunk[kChunk];
  ssize_t total = 0;
  for (int i = 0; i < kChunksPerRound && !session_.ended(); ++i) {
    const ssize_t got = transport_->read(chunk, sizeof chunk);
    if (got < 0) return -1;
    if (got == 0) break;
    total += got;
    // A TLS server answers a plain line with an alert or handshake record
    // (type 0x15 or 0x16, version 3.x), never with a line of text.
    if (!heard_ && got >= 2 && (chunk[0] == 0x15 || chunk[0] == 0x16) && chunk[1] == 0x03 && !config_.pool.tls) {
      speaks_tls_ = true;
      return -1;
    }
    heard_ = true;
    recv_buf.append(chunk, static_cast<size_t>(got));
    const auto now = Clock::now();
    size_t begin = 0;
    for (size_t lf; (lf = recv_buf.find('\n', begin)) != std::string::npos; begin = lf + 1) {
      if (lf > begin) session_.receive(recv_buf.substr(begin, lf - begin), now);
    }
    recv_buf.erase(0, begin);
    if (recv_buf.size() > kMaxPending) return -1;
  }
  return total;
}

bool Stratum::flush() {
  for (;;) {
    while (!out_.empty()) {
      const ssize_t n = transport_->write(out_.data(), out_.size());
      if (n < 0) return false;
      if (n == 0) return true;
      out_.erase(0, static_cast<size_t>(n));
    }
    if (out_share_ != 0) {
      session_.sent(out_share_, Clock::now());
      out_share_ = 0;
    }
    Share share;
    if (!queue_.pop(share)) return true;
    out_share_ = session_.submit(share);
    out_ = session_.take_output();
  }
}

void Stratum::report_drops() {
  const ShareQueue::Drops d = queue_.take_drops();
  if (d.full > 0) report("dropped " + shares(d.full) + ": the pool took them too slowly and the queue was full");
  if (d.ended > 0) {
    report("dropped " + shares(d.ended) +
           (running_ ? ": their connection ended before they were sent" : ": stopped before they were sent"));
  }
}

void Stratum::disconnect() {
  if (out_share_ != 0) queue_.drop_taken();
  out_share_ = 0;
  out_.clear();
  queue_.close();
  report_drops();
  session_.end(!running_);
  transport_.reset();
  connected = false;
  if (on_lost) on_lost();
}

void Stratum::pause(const std::string& why, std::chrono::seconds d) {
  if (!running_) return;
  if (!why.empty()) report(why + ", retrying in " + duration_text(d));
  for (long long i = 0; i < d.count() * kTicksPerSecond && running_; ++i) sleep_for(timing_.tick);
}

}  // namespace tlm
