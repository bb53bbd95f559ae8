// Name resolution and connecting out, both abandoned within a tick of being told
// to stop, so no stop or pool switch waits on the network.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace tlm {

enum class DialResult { kConnected, kCannotResolve, kCannotConnect, kStopped };

// Resolves `host` (a name or a numeric address) and connects to `port` on the
// first address that answers within `timeout`. Gives up within 100 ms once
// `keep_going` is false. On kConnected `fd` is a blocking socket with
// TCP_NODELAY and SO_KEEPALIVE set and its send time-out at `timeout`; otherwise
// `reason`, when given, says why in lower case: the resolver's answer, or the
// system's for the last address tried ("connection refused").
DialResult dial_tcp(const std::string& host, uint16_t port, const std::atomic<bool>& keep_going,
                    std::chrono::milliseconds timeout, int& fd, std::string* reason = nullptr);

}  // namespace tlm
