// Collects what a tlm::Stratum reports through its callbacks, for tests that
// watch it from another thread.
#pragma once

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
  using Clock = std::chrono::steady_clock;

  explicit Recorder(tlm::Stratum& client) {
    client.on_message = [this](const std::string& text) {
      add([&] { messages.emplace_back(Clock::now(), text); });
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

  // Waits until `text` has been reported `count` times in all.
  bool wait_message(const std::string& text, size_t count = 1, int timeout_ms = 5000) {
    return wait([&] { return count_locked(text) >= count; }, timeout_ms);
  }

  size_t count(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    return count_locked(text);
  }

  // Copies, safe to use while the client is still running.
  std::vector<tlm::Work> work_list() {
    std::lock_guard<std::mutex> lock(mutex);
    return works;
  }
  std::vector<std::pair<bool, std::string>> share_list() {
    std::lock_guard<std::mutex> lock(mutex);
    return shares;
  }

  std::vector<std::string> message_texts() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> texts;
    for (const auto& m : messages) texts.push_back(m.second);
    return texts;
  }

  // Read these directly only in wait() predicates or once the client has stopped.
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<Clock::time_point, std::string>> messages;
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

  size_t count_locked(const std::string& text) const {
    size_t n = 0;
    for (const auto& m : messages) n += m.second == text;
    return n;
  }
};

}  // namespace stratum_test
