// What each key does while the miner runs in a terminal: h the per-thread rates,
// p pause, r resume, s the summary; any other key lists them.
#pragma once

#include <functional>

#include "app/monitor/snapshot.h"

namespace tlm {

class KeyCommands {
 public:
  // `figures` is read for h and s; `pause` is called with true for p and false
  // for r. Both must outlive this object.
  KeyCommands(const PublishedSnapshot& figures, std::function<void(bool)> pause)
      : figures_(figures), pause_(std::move(pause)) {}

  // Logs the list of keys.
  static void announce();
  // Runs the command of `key` and logs what it did. Called from one thread.
  void run(char key);

 private:
  const PublishedSnapshot& figures_;
  std::function<void(bool)> pause_;
  bool paused_ = false;
};

}  // namespace tlm
