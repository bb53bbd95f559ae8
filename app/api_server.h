// The monitoring API: GET /summary (JSON) and GET /metrics (Prometheus) over HTTP,
// served on threads of its own from the last published Snapshot, so a request
// never waits for the miner and the miner never waits for a request.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "app/api_snapshot.h"

namespace tlm {

// True for "localhost" and the loopback addresses 127.0.0.0/8 and ::1: only
// there may the API listen without a token.
bool is_loopback_host(const std::string& host);

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
  // Stops listening, cuts open requests short and joins the threads, within
  // about a tenth of a second. Further calls do nothing.
  void stop();

 private:
  class Server;

  std::unique_ptr<Server> server_;
  std::thread thread_;
  std::atomic<bool> listen_returned_{false};
  uint16_t port_ = 0;
  std::string token_;
  const PublishedSnapshot& figures_;
};

}  // namespace tlm
