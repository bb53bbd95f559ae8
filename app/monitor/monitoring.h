// What the running miner shows besides its log: the monitoring API and the
// keyboard commands, both fed from the figures the main loop publishes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/monitor/api_server.h"
#include "app/monitor/snapshot.h"
#include "app/monitor/key_commands.h"
#include "app/monitor/keyboard.h"
#include "app/monitor/thread_rates.h"

namespace tlm {

class Monitoring {
 public:
  // `first` is shown until the first publish.
  explicit Monitoring(const Snapshot& first) { published_.publish(first); }
  ~Monitoring() { stop(); }
  Monitoring(const Monitoring&) = delete;
  Monitoring& operator=(const Monitoring&) = delete;

  // Starts the API on host:port and logs where it listens; false, logged, when it
  // cannot listen there.
  bool start_api(const std::string& host, uint16_t port, const std::string& token);
  // Starts the keyboard commands when standard input is a terminal in front;
  // `pause` switches mining off (true) and on (false).
  void start_keyboard(std::function<void(bool)> pause);

  // Publishes `now` with each thread's rate over 10 s worked out from its hash
  // total. Called once a second by the main loop.
  void publish(Snapshot now, std::vector<uint64_t> thread_totals);

  // Ends the keyboard commands, restoring the terminal, and the API.
  void stop();

 private:
  PublishedSnapshot published_;
  ThreadRates thread_rates_;
  ApiServer api_{published_};
  std::unique_ptr<KeyCommands> commands_;
  Keyboard keyboard_;  // last, so it stops before what its commands use
};

}  // namespace tlm
