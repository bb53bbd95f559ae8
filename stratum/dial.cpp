#include "stratum/dial.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "stratum/stratum.h"
#include "stratum/tcp_transport.h"

namespace tlm {

namespace {

constexpr std::chrono::milliseconds kTick{100};

// One lookup, shared by the dials that wait for it and the thread that resolves:
// the last to let go frees it, so a dial told to stop never waits for a slow
// resolver.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  addrinfo* list = nullptr;
  int error = 0;  // getaddrinfo's, when the list is null
  ~Lookup() {
    if (list != nullptr) freeaddrinfo(list);
  }
};

// The lookup of `host` and `port`: the one still running for them, or a new one.
// A resolver that never answers thus holds one thread per pool address, however
// often the pool is dialled again.
std::shared_ptr<Lookup> resolve(const std::string& host, const std::string& port) {
  using Running = std::map<std::pair<std::string, std::string>, std::shared_ptr<Lookup>>;
  // Never destroyed: a resolving thread may outlive main.
  static std::mutex& running_mutex = *new std::mutex;
  static Running& running = *new Running;
  const Running::key_type key{host, port};
  std::lock_guard<std::mutex> lock(running_mutex);
  std::shared_ptr<Lookup>& lookup = running[key];
  if (lookup) return lookup;
  lookup = std::make_shared<Lookup>();
  std::thread([lookup, key] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int error = getaddrinfo(key.first.c_str(), key.second.c_str(), &hints, &list);
    if (error != 0) list = nullptr;
    {
      std::lock_guard<std::mutex> done_lock(lookup->mutex);
      lookup->list = list;
      lookup->error = error;
      lookup->done = true;
      lookup->done_cv.notify_all();
    }
    std::lock_guard<std::mutex> running_lock(running_mutex);
    running.erase(key);
  }).detach();
  return lookup;
}

// A system message as the middle of a sentence: "Connection refused" becomes
// "connection refused".
std::string lower_first(const char* text) {
  std::string s = text;
  if (!s.empty() && s[0] >= 'A' && s[0] <= 'Z') s[0] = static_cast<char>(s[0] - 'A' + 'a');
  return s;
}

// Closes `s` and returns -1 with `error` set to `code`.
int fail(int s, int code, int& error) {
  close(s);
  error = code;
  return -1;
}

// Connects a non-blocking socket and waits for the handshake in ticks. Returns
// the socket, or -1 with the errno value in `error` when it fails, times out or
// is told to stop.
int connect_one(const addrinfo* ai, const std::atomic<bool>& keep_going, std::chrono::milliseconds timeout,
                int& error) {
  int s = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
  if (s < 0) {
    error = errno;
    return -1;
  }
  if (connect(s, ai->ai_addr, ai->ai_addrlen) != 0) {
    if (errno != EINPROGRESS) return fail(s, errno, error);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (!keep_going || std::chrono::steady_clock::now() >= deadline) return fail(s, ETIMEDOUT, error);
      pollfd p{s, POLLOUT, 0};
      int ready = poll(&p, 1, static_cast<int>(kTick.count()));
      if (ready > 0) break;
      if (ready < 0 && errno != EINTR) return fail(s, errno, error);
    }
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) return fail(s, errno, error);
    if (so_error != 0) return fail(s, so_error, error);
  }
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK);
  return s;
}

}  // namespace

DialResult dial_tcp(const std::string& host, uint16_t port, const std::atomic<bool>& keep_going,
                    std::chrono::milliseconds timeout, int& fd, std::string* reason) {
  std::shared_ptr<Lookup> lookup = resolve(host, std::to_string(port));
  std::unique_lock<std::mutex> lock(lookup->mutex);
  while (!lookup->done) {
    if (!keep_going) return DialResult::kStopped;
    lookup->done_cv.wait_for(lock, kTick);
  }
  lock.unlock();
  if (lookup->list == nullptr) {
    if (reason != nullptr) *reason = lower_first(gai_strerror(lookup->error));
    return DialResult::kCannotResolve;
  }
  int error = 0;
  for (const addrinfo* ai = lookup->list; ai != nullptr; ai = ai->ai_next) {
    int s = connect_one(ai, keep_going, timeout, error);
    if (!keep_going) {
      if (s >= 0) close(s);
      return DialResult::kStopped;
    }
    if (s < 0) continue;
    const long long ms = timeout.count();
    timeval send_timeout{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &send_timeout, sizeof send_timeout);
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    fd = s;
    return DialResult::kConnected;
  }
  if (reason != nullptr) {
    *reason = error == ETIMEDOUT ? "no answer within " + std::to_string(timeout.count() / 1000) + " s"
                                 : lower_first(strerror(error));
  }
  return DialResult::kCannotConnect;
}

std::unique_ptr<Transport> Stratum::dial(std::string& failure) {
  const PoolAddress& pool = config_.pool;
  const std::string where = host_port(pool.host, pool.port);
  int s = -1;
  std::string reason;
  switch (dial_tcp(pool.host, pool.port, running_, timing_.send_timeout, s, &reason)) {
    case DialResult::kConnected: break;
    case DialResult::kCannotResolve: failure = "cannot resolve " + pool.host + ": " + reason; return nullptr;
    case DialResult::kCannotConnect: failure = "cannot connect to " + where + ": " + reason; return nullptr;
    case DialResult::kStopped: return nullptr;
  }
  if (!pool.tls) return std::make_unique<TcpTransport>(s);
  std::unique_ptr<Transport> stream =
      tls_connect(s, pool.host, config_.tls_settings, running_, reason, timing_.send_timeout);
  if (!stream && running_) failure = "cannot connect to " + where + ": " + reason;
  return stream;
}

}  // namespace tlm
