// Where a pool is: host, port and whether the connection is TLS.
#pragma once

#include <cstdint>
#include <string>

namespace tlm {

struct PoolAddress {
  std::string host;  // a name or a numeric address, passed to the resolver as is
  uint16_t port = 0;
  bool tls = false;  // TLS over the TCP connection (stratum+ssl:// or stratum+tls://)
};

// "host:port", with an IPv6 host in brackets: how the log and the API name a pool.
inline std::string host_port(const std::string& host, uint16_t port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace tlm
