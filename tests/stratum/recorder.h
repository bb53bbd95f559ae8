// Collects what a pool client (tlm::Stratum) or a protocol session (tlm::Session)
// reports through its callbacks, also for tests that watch it from another thread.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "stratum/stratum.h"

namespace stratum_test {

class Recorder {
 public:
  template <typename Client>
  explicit Recorder(Client& client) {
    client.on_message = [this](const std::string& text) {
      add([&] {
        messages.push_back(text);
        message_times.push_back(std::chrono::steady_clock::now());
      });
    };
    client.on_work = [this](const tlm::Work& w) { add([&] { works.push_back(w); }); };
    client.on_share = [this](const tlm::ShareResult& r) { add([&] { shares.emplace_back(r.accepted, r.reason); }); };
  }

  // Waits up to timeout_ms for `done` (called under the lock) to hold.
  template <typename Pred>
  bool wait(Pred done, int timeout_ms = 5000) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return done(); });
  }
  // Waits until messages that start with `text` have been reported `count` times in all.
  bool wait_message(const std::string& text, size_t count = 1, int timeout_ms = 5000) {
    const auto said = [&](const std::string& m) { return m.starts_with(text); };
    return wait([&] { return std::count_if(messages.begin(), messages.end(), said) >= long(count); }, timeout_ms);
  }
  // A copy of one of the fields below, safe while the client runs.
  template <typename T>
  T copy(const T& field) {
    std::lock_guard<std::mutex> lock(mutex);
    return field;
  }

  // Read these directly only in wait() predicates or once the client has stopped.
  std::vector<std::string> messages;
  std::vector<std::chrono::steady_clock::time_point> message_times;  // when each message came
  std::vector<tlm::Work> works;
  std::vector<std::pair<bool, std::string>> shares;

 private:
  template <typename F>
  void add(F f) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      f();
    }
    changed.notify_all();
  }

  std::mutex mutex;
  std::condition_variable changed;
};

}  // namespace stratum_test
