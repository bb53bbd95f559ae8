// How long the pool client waits before it dials again.
#pragma once

#include <algorithm>
#include <chrono>

namespace tlm {

class Backoff {
 public:
  // After a failed dial, or a connection given up because the pool refused the
  // login: 1 s, doubling with each failure in a row up to 30 s.
  std::chrono::seconds after_failure() {
    const std::chrono::seconds wait = next_;
    next_ = std::min(2 * next_, kLongest);
    return wait;
  }
  // After a connection that the pool or the network ended: 3 s, and the next
  // failure waits 1 s again.
  std::chrono::seconds after_connection() {
    next_ = kFirst;
    return std::chrono::seconds(3);
  }

 private:
  static constexpr std::chrono::seconds kFirst{1};
  static constexpr std::chrono::seconds kLongest{30};
  std::chrono::seconds next_ = kFirst;
};

}  // namespace tlm
