// The monitoring API: GET /summary (JSON) and GET /metrics (Prometheus) over HTTP,
// served on a thread of its own from the last published Snapshot, so a request
// never waits for the miner and the miner never waits for a request. That thread
// accepts connections and reads requests without ever waiting on one client, so
// slow or idle clients cannot keep a whole request from being answered.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/monitor/snapshot.h"

namespace tlm {

class ApiServer {
 public:
  // Serves what `figures` holds; it must outlive the server.
  explicit ApiServer(const PublishedSnapshot& figures);
  ~ApiServer();  // stops
  ApiServer(const ApiServer&) = delete;
  ApiServer& operator=(const ApiServer&) = delete;

  // Listens on host:port (port 0: one the system picks) and serves from a thread
  // of its own. With a non-empty `token` every request must carry
  // "Authorization: Bearer <token>". False with `error` set when the address
  // cannot be bound. Call once.
  bool start(const std::string& host, uint16_t port, const std::string& token, std::string& error);
  // The port it listens on, once started.
  uint16_t port() const { return port_; }
  // Stops listening, closes open connections and joins the thread at once.
  // Further calls do nothing.
  void stop();

 private:
  class Router;
  struct Connection;

  // The thread's loop: accepts, reads, answers and closes connections.
  void serve();
  void accept_all(std::vector<Connection>& open);
  // Reads what has arrived on `c` and answers once the request is whole; false
  // when the connection is done with.
  bool read_request(Connection& c);
  // Writes what the socket takes of the reply; false when it is done with.
  bool write_reply(Connection& c);

  std::unique_ptr<Router> router_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};  // a pipe whose write end wakes the thread to stop
  uint16_t port_ = 0;
  std::string token_;
  const PublishedSnapshot& figures_;
};

}  // namespace tlm
