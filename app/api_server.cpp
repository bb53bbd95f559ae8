#include "app/api_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <vector>

namespace tlm {

namespace {

using Clock = std::chrono::steady_clock;

// Limits of one connection: it carries one request, which must arrive whole
// within kRequestTime and within kMaxRequestBytes, or the connection is closed.
constexpr size_t kMaxRequestBytes = 4096;
constexpr auto kRequestTime = std::chrono::seconds(3);
// Requests are served one at a time: each is bounded, monitoring asks little, and
// httplib's request handling then never runs on two threads at once (ThreadSanitizer
// reports a race inside the library when it does). A few accepted connections may
// wait; beyond that a new connection is closed at once.
constexpr int kWorkers = 1;
constexpr size_t kMaxWaiting = 4;
// How often a wait looks at the stop flag.
constexpr int kStopCheckMs = 100;

// Set while the accepting thread runs a connection's task itself to refuse it.
thread_local bool t_refuse = false;

// The bytes of one connection, read and written against one deadline and a
// read budget. httplib parses the request from it.
class LimitedStream : public httplib::Stream {
 public:
  LimitedStream(int fd, Clock::time_point deadline, const std::atomic<bool>& stopping)
      : fd_(fd), deadline_(deadline), stopping_(stopping) {}

  bool is_readable() const override { return wait(POLLIN); }
  bool is_writable() const override { return wait(POLLOUT); }

  ssize_t read(char* ptr, size_t size) override {
    if (received_ >= kMaxRequestBytes || !wait(POLLIN)) return -1;
    ssize_t got = recv(fd_, ptr, std::min(size, kMaxRequestBytes - received_), 0);
    if (got > 0) received_ += static_cast<size_t>(got);
    return got;
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!wait(POLLOUT)) return -1;
    return send(fd_, ptr, size, MSG_NOSIGNAL);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip.clear();
    port = 0;
  }
  socket_t socket() const override { return fd_; }

 private:
  // Waits for `events` until the deadline or a stop; true when the socket is
  // ready (or failed, which the following call reports).
  bool wait(short events) const {
    while (!stopping_.load()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
      if (left <= 0) return false;
      pollfd p{fd_, events, 0};
      const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, kStopCheckMs)));
      if (ready > 0) return true;
      if (ready < 0 && errno != EINTR) return false;
    }
    return false;
  }

  int fd_;
  Clock::time_point deadline_;
  const std::atomic<bool>& stopping_;
  size_t received_ = 0;
};

// A fixed set of workers with a short waiting line; a connection that finds the
// line full is refused on the accepting thread.
class BoundedWorkers : public httplib::TaskQueue {
 public:
  BoundedWorkers() {
    for (int i = 0; i < kWorkers; ++i) threads_.emplace_back([this] { work(); });
  }
  ~BoundedWorkers() override { shutdown(); }

  void enqueue(std::function<void()> fn) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!shutdown_ && waiting_.size() < kMaxWaiting) {
        waiting_.push_back(std::move(fn));
        ready_.notify_one();
        return;
      }
    }
    t_refuse = true;  // the task then only closes its socket
    fn();
    t_refuse = false;
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      shutdown_ = true;
    }
    ready_.notify_all();
    for (std::thread& t : threads_)
      if (t.joinable()) t.join();
  }

 private:
  // Runs tasks until shut down with none left; a task run after the stop only
  // closes its socket.
  void work() {
    for (;;) {
      std::function<void()> fn;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return shutdown_ || !waiting_.empty(); });
        if (waiting_.empty()) return;
        fn = std::move(waiting_.front());
        waiting_.pop_front();
      }
      fn();
    }
  }

  std::vector<std::thread> threads_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> waiting_;  // guarded by mutex_
  bool shutdown_ = false;                      // guarded by mutex_
};

// Compares in time that depends only on the expected token's length.
bool same_secret(const std::string& given, const std::string& expected) {
  unsigned diff = given.size() != expected.size();
  for (size_t i = 0; i < expected.size(); ++i)
    diff |= static_cast<unsigned char>(expected[i]) ^ static_cast<unsigned char>(i < given.size() ? given[i] : 0);
  return diff == 0;
}

}  // namespace

// httplib's server with every connection read through a LimitedStream: one
// request per connection, bounded in size and time, refused when the workers
// are all taken.
class ApiServer::Server : public httplib::Server {
 public:
  std::atomic<bool> stopping{false};

 private:
  bool process_and_close_socket(socket_t sock) override {
    bool served = false;
    if (!t_refuse && !stopping.load()) {
      LimitedStream stream(sock, Clock::now() + kRequestTime, stopping);
      bool closed = false;
      served = process_request(stream, true, closed, nullptr);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return served;
  }
};

bool is_loopback_host(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

ApiServer::ApiServer(const PublishedSnapshot& figures) : figures_(figures) {}

ApiServer::~ApiServer() { stop(); }

bool ApiServer::start(const std::string& host, uint16_t port, const std::string& token, std::string& error) {
  token_ = token;
  server_ = std::make_unique<Server>();
  server_->new_task_queue = [] { return new BoundedWorkers; };
  // Only SO_REUSEADDR: a second miner must not share the port.
  server_->set_socket_options([](socket_t fd) {
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
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
  server_->Get("/summary", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(render_summary(figures_.get()), "application/json");
  });
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
    res.set_content(render_metrics(figures_.get()), "text/plain; version=0.0.4; charset=utf-8");
  });

  const int bound = port == 0 ? server_->bind_to_any_port(host) : (server_->bind_to_port(host, port) ? port : -1);
  if (bound <= 0) {
    error = "cannot listen on " + host + ":" + std::to_string(port);
    return false;
  }
  port_ = static_cast<uint16_t>(bound);
  thread_ = std::thread([this] {
    server_->listen_after_bind();
    listen_returned_.store(true);
  });
  return true;
}

void ApiServer::stop() {
  if (!thread_.joinable()) return;
  server_->stopping.store(true);
  // A stop that comes before the listening loop runs would be lost.
  while (!server_->is_running() && !listen_returned_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server_->stop();
  thread_.join();
}

}  // namespace tlm
