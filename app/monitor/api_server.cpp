#include "app/monitor/api_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include "stratum/pool_address.h"

namespace tlm {

namespace {

using Clock = std::chrono::steady_clock;

// A request must arrive whole within kRequestTime of its connection being
// accepted and within kMaxRequestBytes; the reply then has kRequestTime to be
// taken. Monitoring asks little, so one thread serves every connection, and it
// never waits on any one of them.
constexpr size_t kMaxRequestBytes = 4096;
constexpr auto kRequestTime = std::chrono::seconds(3);
// Open connections, in all and from one client address: beyond either a new
// connection is closed at once (beyond the first, it waits to be accepted).
constexpr size_t kMaxConnections = 64;
constexpr size_t kMaxPerAddress = 8;

// One whole request, as read by the thread, for httplib to parse; the reply it
// writes is collected.
class BufferStream : public httplib::Stream {
 public:
  explicit BufferStream(std::string request) : in_(std::move(request)) {}

  bool is_readable() const override { return read_ < in_.size(); }
  bool is_writable() const override { return true; }

  ssize_t read(char* ptr, size_t size) override {
    const size_t n = std::min(size, in_.size() - read_);
    memcpy(ptr, in_.data() + read_, n);
    read_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    reply.append(ptr, size);
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  socket_t socket() const override { return INVALID_SOCKET; }

  std::string reply;

 private:
  std::string in_;
  size_t read_ = 0;
};

// The request without its Range headers: the endpoints always answer whole, so
// no request gets a reply many times its own size.
std::string without_ranges(const std::string& request) {
  static constexpr std::string_view kRange = "range:";
  std::string kept;
  for (size_t begin = 0, end; begin < request.size(); begin = end) {
    end = std::min(request.find('\n', begin), request.size() - 1) + 1;
    const std::string_view line(request.data() + begin, end - begin);
    const bool range = line.size() >= kRange.size() &&
                       std::equal(kRange.begin(), kRange.end(), line.begin(), [](char a, char b) {
                         return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
                       });
    if (!range) kept += line;
  }
  return kept;
}

// The client's address alone (no port), as bytes: what the per-address bound counts.
std::string client_address(const sockaddr_storage& peer) {
  if (peer.ss_family == AF_INET6) {
    const auto& a = reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr;
    return std::string(reinterpret_cast<const char*>(&a), sizeof a);
  }
  const auto& a = reinterpret_cast<const sockaddr_in&>(peer).sin_addr;
  return std::string(reinterpret_cast<const char*>(&a), sizeof a);
}

// A listening non-blocking socket on the first address of `host` that binds, or -1
// with the reason in `reason`.
int listen_on(const std::string& host, uint16_t port, uint16_t& bound, std::string& reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* list = nullptr;
  if (const int error = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list); error != 0) {
    reason = gai_strerror(error);
    return -1;
  }
  int fd = -1;
  for (const addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) {
      reason = strerror(errno);
      continue;
    }
    // Only SO_REUSEADDR: a second miner must not share the port.
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || listen(fd, SOMAXCONN) != 0) {
      reason = strerror(errno);
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(list);
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    bound = ntohs(addr.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(addr).sin6_port
                                             : reinterpret_cast<sockaddr_in&>(addr).sin_port);
  return fd;
}

void close_connection(int fd) {
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
}

// Compares in time that depends only on the expected token's length.
bool same_secret(const std::string& given, const std::string& expected) {
  unsigned diff = given.size() != expected.size();
  for (size_t i = 0; i < expected.size(); ++i)
    diff |= static_cast<unsigned char>(expected[i]) ^ static_cast<unsigned char>(i < given.size() ? given[i] : 0);
  return diff == 0;
}

}  // namespace

// httplib's request parsing, routing and reply writing, on requests read whole.
class ApiServer::Router : public httplib::Server {
 public:
  std::string answer(const std::string& request) {
    BufferStream stream(without_ranges(request));
    bool closed = false;
    process_request(stream, true, closed, nullptr);
    return std::move(stream.reply);
  }
};

struct ApiServer::Connection {
  int fd = -1;
  std::string address;
  Clock::time_point deadline;
  std::string request;
  std::string reply;  // empty until the request is whole
  size_t sent = 0;
};

ApiServer::ApiServer(const PublishedSnapshot& figures) : figures_(figures) {}

ApiServer::~ApiServer() { stop(); }

bool ApiServer::start(const std::string& host, uint16_t port, const std::string& token, std::string& error) {
  token_ = token;
  router_ = std::make_unique<Router>();
  router_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    static const std::string kScheme = "Bearer ";
    const std::string given = req.get_header_value("Authorization");
    if (token_.empty() || (given.compare(0, kScheme.size(), kScheme) == 0 &&
                           same_secret(given.substr(kScheme.size()), token_)))
      return httplib::Server::HandlerResponse::Unhandled;
    res.status = 401;
    res.set_header("WWW-Authenticate", "Bearer");
    res.set_content("unauthorized\n", "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  router_->Get("/summary", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(render_summary(figures_.get()), "application/json");
  });
  router_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(render_metrics(figures_.get()), "text/plain; version=0.0.4; charset=utf-8");
  });

  std::string reason;
  listen_fd_ = listen_on(host, port, port_, reason);
  if (listen_fd_ < 0 || pipe2(wake_, O_CLOEXEC) != 0) {
    if (listen_fd_ >= 0) reason = strerror(errno);
    error = "cannot listen on " + host_port(host, port) + ": " + reason;
    return false;
  }
  thread_ = std::thread([this] { serve(); });
  return true;
}

void ApiServer::stop() {
  if (thread_.joinable()) {
    stopping_ = true;
    char end = 0;
    while (write(wake_[1], &end, 1) == -1 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int* fd : {&listen_fd_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void ApiServer::serve() {
  std::vector<Connection> open;
  while (!stopping_) {
    const short accepting = open.size() < kMaxConnections ? POLLIN : 0;
    std::vector<pollfd> fds{{wake_[0], POLLIN, 0}, {listen_fd_, accepting, 0}};
    auto next_deadline = Clock::time_point::max();
    for (const Connection& c : open) {
      fds.push_back({c.fd, static_cast<short>(c.reply.empty() ? POLLIN : POLLOUT), 0});
      next_deadline = std::min(next_deadline, c.deadline);
    }
    int wait_ms = -1;
    if (!open.empty()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(next_deadline - Clock::now()).count();
      wait_ms = static_cast<int>(std::max<long long>(left, 0));
    }
    if (poll(fds.data(), fds.size(), wait_ms) < 0 && errno != EINTR) break;
    const auto now = Clock::now();
    for (size_t i = 0; i < open.size(); ++i) {
      Connection& c = open[i];
      const bool going_on = now < c.deadline && (fds[i + 2].revents == 0 ||
                                                 (c.reply.empty() ? read_request(c) : write_reply(c)));
      if (!going_on) {
        close_connection(c.fd);
        c.fd = -1;
      }
    }
    std::erase_if(open, [](const Connection& c) { return c.fd < 0; });
    if (fds[1].revents & POLLIN) accept_all(open);
  }
  for (const Connection& c : open) close_connection(c.fd);
}

void ApiServer::accept_all(std::vector<Connection>& open) {
  while (open.size() < kMaxConnections) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    const int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    Connection c{fd, client_address(peer), Clock::now() + kRequestTime, {}, {}, 0};
    const auto same = [&](const Connection& o) { return o.address == c.address; };
    if (static_cast<size_t>(std::count_if(open.begin(), open.end(), same)) >= kMaxPerAddress) {
      close_connection(fd);
      continue;
    }
    open.push_back(std::move(c));
  }
}

bool ApiServer::read_request(Connection& c) {
  char chunk[kMaxRequestBytes];
  const ssize_t got = recv(c.fd, chunk, kMaxRequestBytes - c.request.size(), 0);
  if (got < 0) return errno == EAGAIN || errno == EINTR;
  if (got == 0) return false;
  c.request.append(chunk, static_cast<size_t>(got));
  // A request that fills the limit without its end is answered as incomplete (400).
  if (c.request.find("\r\n\r\n") == std::string::npos && c.request.size() < kMaxRequestBytes) return true;
  c.reply = router_->answer(c.request);
  c.deadline = Clock::now() + kRequestTime;
  return write_reply(c);
}

bool ApiServer::write_reply(Connection& c) {
  const ssize_t n = send(c.fd, c.reply.data() + c.sent, c.reply.size() - c.sent, MSG_NOSIGNAL);
  if (n < 0) return errno == EAGAIN || errno == EINTR;
  c.sent += static_cast<size_t>(n);
  return c.sent < c.reply.size();
}

}  // namespace tlm
