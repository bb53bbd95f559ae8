// Single-key commands from the terminal: while the miner runs in the foreground
// of a terminal, each key reaches a callback at once, without Enter or echo.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace tlm {

class Keyboard {
 public:
  Keyboard() = default;
  ~Keyboard();  // stops
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  // When standard input is a terminal and this process is in its foreground,
  // switches it to single keys without echo (Ctrl-C still stops) and calls
  // `on_key` on a thread of its own for every key. The terminal's mode comes back
  // on stop, on exit() and on a fatal signal. False, and nothing changed, when
  // there is no such terminal.
  bool start(std::function<void(char)> on_key);
  // Stops reading, joins the thread and restores the terminal. Further calls do nothing.
  void stop();

 private:
  void read_keys();

  std::function<void(char)> on_key_;
  std::thread thread_;
  int wake_[2] = {-1, -1};  // a pipe whose write end ends read_keys
};

}  // namespace tlm
