#include "tools/tlm-testpool/pool_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "json/json.h"
#include "hash/hex.h"
#include "tools/tlm-testpool/bad_lines.h"
#include "miner/target.h"
#include "stratum/tcp_transport.h"

namespace testpool {

namespace {

using Clock = std::chrono::steady_clock;
using tlm::Json;

constexpr size_t kMaxConnections = 256;
constexpr size_t kMaxLine = 65536;          // a submit is under 3 KiB
constexpr size_t kMaxQueued = 8u << 20;     // a miner that stops reading is dropped
constexpr size_t kSplitPiece = 7;           // bytes per write with --split-writes
constexpr size_t kKeptJobs = 3;             // shares for older jobs are stale

void log_line(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// One line on standard output, time-stamped as the miner stamps its own.
void log_line(const char* fmt, ...) {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "[%Y-%m-%d %H:%M:%S] ", &local);
  fputs(stamp, stdout);
  va_list args;
  va_start(args, fmt);
  vprintf(fmt, args);
  va_end(args);
  putchar('\n');
  fflush(stdout);
}

// Untrusted text (worker names, job ids) printed on one line.
std::string printable(const std::string& s) { return tlm::json_escape(s); }

// The request's id as JSON text for the reply.
std::string id_text(const Json* id) {
  if (id == nullptr) return "null";
  if (id->type == Json::String) return "\"" + tlm::json_escape(id->text) + "\"";
  if (id->type != Json::Number || !std::isfinite(id->number)) return "null";
  char buf[32];
  if (id->number == std::floor(id->number) && std::fabs(id->number) < 9007199254740992.0) {
    snprintf(buf, sizeof buf, "%.0f", id->number);
  } else {
    snprintf(buf, sizeof buf, "%.17g", id->number);
  }
  return buf;
}

std::string error_reply(const std::string& id, int code, const std::string& reason) {
  return "{\"id\":" + id + ",\"result\":null,\"error\":[" + std::to_string(code) + ",\"" +
         tlm::json_escape(reason) + "\",null]}";
}

const std::string& text_of(const Json& v) {
  static const std::string kEmpty;
  return v.type == Json::String ? v.text : kEmpty;
}

}  // namespace

struct PoolServer::Connection {
  std::unique_ptr<tlm::Transport> stream;  // plain TCP, or TLS with --tls
  uint64_t number = 0;
  std::vector<uint8_t> prefix;
  std::string in;
  std::string out;
  size_t out_pos = 0;  // bytes of `out` already written
  std::string worker;
  bool authorized = false;
  bool first_job_sent = false;
  bool muted = false;    // --silent, after the first job
  bool faulty = true;    // the connection-ending faults apply to it
  bool closing = false;  // end once `out` is written: stop sending, read until the miner closes
  bool draining = false; // our side is shut down; shares still arriving are checked
  bool dead = false;
  int lines_sent = 0;
  size_t junk_next = 0;
  uint8_t target[32] = {};
  // The target before the last retarget and when it changed: like a real pool, the
  // easier of the two still counts for a moment, for shares already on their way.
  uint8_t old_target[32] = {};
  Clock::time_point retargeted_at;
  Clock::time_point accepted_at = Clock::now();
};

PoolServer::PoolServer(const PoolOptions& options, HashFn hash) : options_(options), hash_(hash) {}

PoolServer::~PoolServer() {
  if (listen_fd_ >= 0) close(listen_fd_);
}

bool PoolServer::listen() {
  std::string error;
  if (options_.tls && !tls_.init(options_.tls_cert, options_.tls_key, error)) {
    log_line("cannot serve TLS: %s", error.c_str());
    return false;
  }
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int one = 1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(options_.port);
  socklen_t len = sizeof addr;
  // A small receive window makes a stall back up into the miner within a few shares.
  int small = 4096;
  if (options_.stall_for > 0) setsockopt(listen_fd_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  if (listen_fd_ < 0 || setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listen_fd_, 64) != 0 ||
      getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    log_line("cannot listen on 127.0.0.1:%u: %s", options_.port, strerror(errno));
    return false;
  }
  if (options_.tls) {
    log_line("listening on 127.0.0.1:%u over TLS, certificate SHA-256 %s", ntohs(addr.sin_port),
             tlm::fingerprint_text(tls_.fingerprint()).c_str());
  } else {
    log_line("listening on 127.0.0.1:%u", ntohs(addr.sin_port));
  }
  return true;
}

void PoolServer::run(const volatile sig_atomic_t& stop) {
  const auto start = Clock::now();
  const auto job_every = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.job_interval));
  const auto retarget_every =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.retarget_interval));
  auto next_job = start + job_every;
  auto next_retarget = start + retarget_every;
  const auto drop_every =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options_.drop_interval));
  auto next_drop = start + drop_every;
  const auto stall_from = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(options_.stall_after));
  const auto stall_until = stall_from + std::chrono::duration_cast<Clock::duration>(
                                            std::chrono::duration<double>(options_.stall_for));
  bool stalled = false;
  new_job();

  while (!stop) {
    const auto now = Clock::now();
    if (options_.seconds > 0 && now - start >= std::chrono::duration<double>(options_.seconds)) break;
    if (now >= next_job) {
      new_job();
      next_job = std::max(next_job + job_every, now);
    }
    if (options_.retarget_interval > 0 && now >= next_retarget) {
      retarget();
      next_retarget = std::max(next_retarget + retarget_every, now);
    }

    if (options_.drop_interval > 0 && now >= next_drop) {
      log_line("dropping every connection");
      for (auto& c : connections_) {
        if (c->closing) continue;
        c->closing = true;
        flush(*c);
      }
      next_drop = std::max(next_drop + drop_every, now);
    }

    if (options_.hang_up_after > 0) {
      for (auto& c : connections_) {
        if (c->closing || !c->faulty || now - c->accepted_at < std::chrono::duration<double>(options_.hang_up_after))
          continue;
        log_line("hanging up %llu", static_cast<unsigned long long>(c->number));
        c->closing = true;
        flush(*c);
      }
    }

    if (stalled != (options_.stall_for > 0 && now >= stall_from && now < stall_until)) {
      stalled = !stalled;
      log_line(stalled ? "stalled: reading nothing for %g s" : "reading again after %g s", options_.stall_for);
    }

    // Sending a job or a target above may have ended connections.
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->dead; });
    std::vector<pollfd> fds{{listen_fd_, POLLIN, 0}};
    for (const auto& c : connections_) {
      const short events = c->stream->events(c->out_pos < c->out.size());
      fds.push_back({c->stream->fd(), static_cast<short>(stalled ? events & ~POLLIN : events), 0});
    }
    // Wake in time for retargets faster than the usual 100 ms.
    const int wait_ms = options_.retarget_interval > 0 ? std::clamp(static_cast<int>(options_.retarget_interval * 1000), 1, 100) : 100;
    int ready = poll(fds.data(), fds.size(), wait_ms);
    if (ready < 0 && errno != EINTR) {
      log_line("poll failed: %s", strerror(errno));
      break;
    }
    if (ready > 0) {
      // Connections accepted below are appended, so the indices still match fds.
      for (size_t i = 1; i < fds.size(); ++i) {
        Connection& c = *connections_[i - 1];
        // Over TLS a read may wait for the socket to take data and a write for it
        // to bring some: any event lets both try.
        if (c.dead || fds[i].revents == 0) continue;
        if (!stalled) read_from(c);
        if (!c.dead) flush(c);
      }
      if (fds[0].revents & POLLIN) accept_all();
    }
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->dead; });
  }
  drain();
  log_line("stopped");
}

void PoolServer::drain() {
  // Bounded: a miner that keeps sending cannot hold the stop up for long.
  for (int round = 0; round < 100 && !connections_.empty(); ++round) {
    std::vector<pollfd> fds;
    for (const auto& c : connections_) fds.push_back({c->stream->fd(), c->stream->events(false), 0});
    if (poll(fds.data(), fds.size(), 0) <= 0) return;
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].revents != 0) read_from(*connections_[i]);
    }
    std::erase_if(connections_, [](const std::unique_ptr<Connection>& c) { return c->dead; });
  }
}

void PoolServer::accept_all() {
  for (;;) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN once the backlog is empty; anything else waits for the next poll
    if (connections_.size() >= kMaxConnections) {
      close(fd);
      log_line("connection refused: %zu miners connected", connections_.size());
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->stream = options_.tls ? tls_.accept(fd) : std::make_unique<tlm::TcpTransport>(fd);
    if (!c->stream) {
      log_line("connection refused: no TLS session");
      continue;
    }
    c->number = ++connection_count_;
    c->faulty = options_.faulty_connections == 0 || c->number <= static_cast<uint64_t>(options_.faulty_connections);
    ++summary_.connections;
    difficulty_to_target(hard_target_ ? 2 * options_.difficulty : options_.difficulty, c->target);
    char addr[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &peer.sin_addr, addr, sizeof addr);
    log_line("connection %llu from %s:%u", static_cast<unsigned long long>(c->number), addr, ntohs(peer.sin_port));
    connections_.push_back(std::move(c));
  }
}

void PoolServer::read_from(Connection& c) {
  char buf[16384];
  ssize_t got = c.stream->read(buf, sizeof buf);
  if (got == 0) return;
  if (got < 0) {
    close_connection(c, "closed by the miner, or a read error");
    return;
  }
  c.in.append(buf, static_cast<size_t>(got));
  size_t begin = 0;
  for (size_t lf; !c.dead && (lf = c.in.find('\n', begin)) != std::string::npos; begin = lf + 1) {
    std::string line = c.in.substr(begin, lf - begin);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) handle_line(c, line);
  }
  c.in.erase(0, begin);
  if (!c.dead && c.in.size() > kMaxLine) close_connection(c, "line too long");
}

void PoolServer::handle_line(Connection& c, const std::string& line) {
  Json root;
  if (!Json::parse(line, root) || root.type != Json::Object) {
    log_line("connection %llu: not a JSON object", static_cast<unsigned long long>(c.number));
    return;
  }
  const std::string id = id_text(root.find("id"));
  const std::string method = root.str("method", "");
  const Json* params = root.find("params");
  if (method == "mining.subscribe") {
    on_subscribe(c, id);
  } else if (method == "mining.authorize") {
    on_authorize(c, id, params);
  } else if (method == "mining.submit") {
    on_submit(c, id, params);
  } else if (!method.empty()) {
    send(c, error_reply(id, 20, "unsupported method"));
  }
}

void PoolServer::on_subscribe(Connection& c, const std::string& id) {
  if (c.prefix.empty()) {
    // An odd multiplier keeps prefixes distinct for 2^(8n) connections.
    static const uint64_t kSeed = static_cast<uint64_t>(time(nullptr));
    uint64_t v = c.number * 0x9E3779B97F4A7C15ull + kSeed;
    for (int i = options_.prefix_bytes - 1; i >= 0; --i, v >>= 8) {
      c.prefix.insert(c.prefix.begin(), static_cast<uint8_t>(v));
    }
  }
  const std::string prefix = tlm::bin_to_hex(c.prefix.data(), c.prefix.size());
  log_line("subscribe %llu prefix %s", static_cast<unsigned long long>(c.number), prefix.c_str());
  send(c, "{\"id\":" + id + ",\"result\":[\"session-" + std::to_string(c.number) + "\",\"" + prefix +
              "\"],\"error\":null}");
}

void PoolServer::on_authorize(Connection& c, const std::string& id, const Json* params) {
  c.worker = params != nullptr && params->type == Json::Array && !params->items.empty()
                 ? text_of(params->items[0])
                 : std::string();
  const unsigned long long n = c.number;
  if (!options_.refuse_login.empty()) {
    log_line("login refused %llu worker \"%s\"", n, printable(c.worker).c_str());
    send(c, "{\"id\":" + id + ",\"result\":false,\"error\":[24,\"" + tlm::json_escape(options_.refuse_login) +
                "\",null]}");
    return;
  }
  log_line("authorized %llu worker \"%s\"", n, printable(c.worker).c_str());
  c.authorized = true;
  send(c, "{\"id\":" + id + ",\"result\":true,\"error\":null}");
  send(c, set_target_line(c.target));
  send_job(c);
}

void PoolServer::on_submit(Connection& c, const std::string& id, const Json* params) {
  const unsigned long long n = c.number;
  bool well_formed = params != nullptr && params->type == Json::Array && params->items.size() >= 5;
  for (size_t i = 0; well_formed && i < 5; ++i) well_formed = params->items[i].type == Json::String;
  const std::string worker = well_formed ? params->items[0].text : c.worker;
  const std::string job_id = well_formed ? params->items[1].text : std::string();

  Verdict v;
  if (!c.authorized) {
    v.code = 24;
    v.reason = "unauthorized worker";
  } else if (!well_formed) {
    v.code = 20;
    v.reason = "malformed share";
  } else if (options_.reject_all) {
    v.code = 20;
    v.reason = options_.reject_reason;
  } else {
    IssuedJob* issued = nullptr;
    for (IssuedJob& j : jobs_) {
      if (j.job.id == job_id) issued = &j;
    }
    const std::vector<Json>& p = params->items;
    std::set<std::string> unknown_job;  // check_share rejects before using it
    const bool grace = Clock::now() - c.retargeted_at < std::chrono::seconds(1) && tlm::meets_target(c.target, c.old_target);
    v = check_share(issued ? &issued->job : nullptr, c.prefix, p[2].text, p[3].text, p[4].text,
                    grace ? c.old_target : c.target, hash_, issued ? issued->seen : unknown_job);
  }
  summary_.count(worker, v.accepted, v.reason);
  if (v.accepted) {
    log_line("share accepted %llu worker \"%s\" job \"%s\" hash %s", n, printable(worker).c_str(),
             printable(job_id).c_str(), tlm::bin_to_hex(v.hash, 32).c_str());
    send(c, "{\"id\":" + id + ",\"result\":true,\"error\":null}");
  } else {
    log_line("share rejected %llu worker \"%s\" job \"%s\": %s", n, printable(worker).c_str(),
             printable(job_id).c_str(), v.reason.c_str());
    send(c, error_reply(id, v.code, v.reason));
  }
  if (options_.stray_replies) {
    // The same answer again, then answers to ids no request has: none may count.
    const std::string answer = v.accepted ? "{\"id\":" + id + ",\"result\":true,\"error\":null}"
                                          : error_reply(id, v.code, v.reason);
    send(c, answer);
    for (const char* stray : {"987654321", "10.5", "-11", "\"11\"", "null", "1e999"})
      send(c, "{\"id\":" + std::string(stray) + ",\"result\":true,\"error\":null}");
  }
}

void PoolServer::new_job() {
  IssuedJob issued;
  issued.job = make_job(++job_count_, static_cast<uint32_t>(time(nullptr)));
  jobs_.push_back(std::move(issued));
  if (jobs_.size() > kKeptJobs) jobs_.pop_front();
  log_line("job %s", jobs_.back().job.id.c_str());
  for (auto& c : connections_) {
    if (c->authorized) send_job(*c);
  }
}

void PoolServer::retarget() {
  hard_target_ = !hard_target_;
  const double difficulty = hard_target_ ? 2 * options_.difficulty : options_.difficulty;
  log_line("target difficulty %g", difficulty);
  for (auto& c : connections_) {
    std::copy(std::begin(c->target), std::end(c->target), std::begin(c->old_target));
    c->retargeted_at = Clock::now();
    difficulty_to_target(difficulty, c->target);
    if (c->authorized) send(*c, set_target_line(c->target));
  }
}

void PoolServer::send_job(Connection& c) {
  send(c, notify_line(jobs_.back().job));
  if (options_.bad_jobs) {
    for (const std::string& line : broken_notify_lines(jobs_.back().job)) send(c, line);
  }
  if (c.first_job_sent || !c.faulty) return;
  c.first_job_sent = true;
  if (options_.overlong_line && !c.muted && !c.closing) {
    log_line("connection %llu: sending an overlong line", static_cast<unsigned long long>(c.number));
    c.out += overlong_line();
    flush(c);
  }
  if (options_.send_reconnect) send(c, "{\"id\":null,\"method\":\"client.reconnect\",\"params\":[]}");
  if (options_.silent) c.muted = true;
}

void PoolServer::send(Connection& c, const std::string& line) {
  if (c.dead || c.closing || c.muted) return;
  if (options_.garbage) {
    c.out += junk_line(c.junk_next++);
    c.out += '\n';
  }
  c.out += line;
  c.out += '\n';
  if (options_.close_after > 0 && c.faulty && ++c.lines_sent >= options_.close_after) c.closing = true;
  flush(c);
}

void PoolServer::flush(Connection& c) {
  while (!c.dead && c.out_pos < c.out.size()) {
    size_t piece = c.out.size() - c.out_pos;
    if (options_.split_writes && piece > kSplitPiece) piece = kSplitPiece;
    ssize_t sent = c.stream->write(c.out.data() + c.out_pos, piece);
    if (sent == 0) break;
    if (sent < 0) {
      close_connection(c, "write error");
      return;
    }
    c.out_pos += static_cast<size_t>(sent);
  }
  if (c.out_pos == c.out.size()) {
    c.out.clear();
    c.out_pos = 0;
    if (c.closing && !c.draining) {
      // Half-close: the miner sees the end of the stream, while shares it sent
      // before noticing are still read, checked and counted.
      shutdown(c.stream->fd(), SHUT_WR);
      c.draining = true;
      log_line("closing %llu", static_cast<unsigned long long>(c.number));
    }
  } else if (c.out.size() - c.out_pos > kMaxQueued) {
    close_connection(c, "the miner is not reading");
  }
}

void PoolServer::close_connection(Connection& c, const char* why) {
  if (c.dead) return;
  c.stream.reset();
  c.dead = true;
  log_line("disconnected %llu: %s", static_cast<unsigned long long>(c.number), why);
}

}  // namespace testpool
