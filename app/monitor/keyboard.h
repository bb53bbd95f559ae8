// Single-key commands from the terminal: while the miner runs in the foreground
// of a terminal, each key reaches a callback at once, without Enter or echo.
#pragma once

#include <functional>
#include <thread>

namespace tlm {

class Keyboard {
 public:
  Keyboard() = default;
  ~Keyboard();  // stops
  Keyboard(const Keyboard&) = delete;
  Keyboard& operator=(const Keyboard&) = delete;

  // When standard input is this process's terminal, calls `on_key` on a thread
  // of its own for every key typed while the process is in the terminal's
  // foreground, with the terminal in single keys without echo (Ctrl-C still
  // stops). In the background the terminal is neither read nor changed; Ctrl-Z
  // gives the terminal its mode back before the process stops, and fg brings
  // single keys back. The mode also comes back on stop, on exit() and on a fatal
  // signal. Returns whether keys are read now; false, and nothing started, when
  // there is no such terminal.
  bool start(std::function<void(char)> on_key);
  // Stops reading, joins the thread and restores the terminal. Further calls do nothing.
  void stop();

 private:
  void read_keys();

  std::function<void(char)> on_key_;
  std::thread thread_;
  int wake_[2] = {-1, -1};  // a pipe that wakes read_keys: to stop, or on Ctrl-Z
};

}  // namespace tlm
