#include "stratum/dial.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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
    if (getaddrinfo(key.first.c_str(), key.second.c_str(), &hints, &list) != 0) list = nullptr;
    {
      std::lock_guard<std::mutex> done_lock(lookup->mutex);
      lookup->list = list;
      lookup->done = true;
      lookup->done_cv.notify_all();
    }
    std::lock_guard<std::mutex> running_lock(running_mutex);
    running.erase(key);
  }).detach();
  return lookup;
}

// Connects a non-blocking socket and waits for the handshake in ticks. Returns
// the socket, or -1 when it fails, times out or is told to stop.
int connect_one(const addrinfo* ai, const std::atomic<bool>& keep_going, std::chrono::milliseconds timeout) {
  int s = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
  if (s < 0) return -1;
  if (connect(s, ai->ai_addr, ai->ai_addrlen) != 0) {
    if (errno != EINPROGRESS) {
      close(s);
      return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (!keep_going || std::chrono::steady_clock::now() >= deadline) {
        close(s);
        return -1;
      }
      pollfd p{s, POLLOUT, 0};
      int ready = poll(&p, 1, static_cast<int>(kTick.count()));
      if (ready > 0) break;
      if (ready < 0 && errno != EINTR) {
        close(s);
        return -1;
      }
    }
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) {
      close(s);
      return -1;
    }
  }
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK);
  return s;
}

}  // namespace

DialResult dial_tcp(const std::string& host, uint16_t port, const std::atomic<bool>& keep_going,
                    std::chrono::milliseconds timeout, int& fd) {
  std::shared_ptr<Lookup> lookup = resolve(host, std::to_string(port));
  std::unique_lock<std::mutex> lock(lookup->mutex);
  while (!lookup->done) {
    if (!keep_going) return DialResult::kStopped;
    lookup->done_cv.wait_for(lock, kTick);
  }
  lock.unlock();
  if (lookup->list == nullptr) return DialResult::kCannotResolve;
  for (const addrinfo* ai = lookup->list; ai != nullptr; ai = ai->ai_next) {
    int s = connect_one(ai, keep_going, timeout);
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
  return DialResult::kCannotConnect;
}

std::unique_ptr<Transport> Stratum::dial() {
  const PoolAddress& pool = config_.pool;
  const std::string where = pool.host + ":" + std::to_string(pool.port);
  int s = -1;
  switch (dial_tcp(pool.host, pool.port, running_, timing_.send_timeout, s)) {
    case DialResult::kConnected: break;
    case DialResult::kCannotResolve: report("cannot resolve " + pool.host); return nullptr;
    case DialResult::kCannotConnect: report("cannot connect to " + where); return nullptr;
    case DialResult::kStopped: return nullptr;
  }
  if (!pool.tls) return std::make_unique<TcpTransport>(s);
  std::string error;
  std::unique_ptr<Transport> stream =
      tls_connect(s, pool.host, config_.tls_settings, running_, error, timing_.send_timeout);
  if (!stream && running_) report("cannot connect to " + where + ": " + error);
  return stream;
}

}  // namespace tlm
