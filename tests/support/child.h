// Drives a running program: start it, read its output line by line against a
// deadline, signal it, and wait for its exit with a deadline.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

namespace testing_support {

class Child {
 public:
  // Starts argv[0] with the given arguments, standard input from /dev/null,
  // standard output into a pipe read by read_line, standard error inherited.
  // With `terminal`, standard input and output are instead a new pseudo-terminal
  // that is the program's controlling terminal, with the program in front.
  explicit Child(const std::vector<std::string>& argv, bool terminal = false);
  // Kills the program if it still runs and reaps it.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Next line of standard output without its line feed. False when the output
  // ended or nothing complete arrived within timeout_ms.
  bool read_line(std::string& line, int timeout_ms);
  // Reads lines until one contains `text`; every line read is appended to `seen`
  // when it is not null. False at the end of output or after timeout_ms.
  bool wait_for(const std::string& text, int timeout_ms, std::vector<std::string>* seen = nullptr);

  void signal(int sig);
  // Exit code after a normal exit; -1 when it was killed by a signal or did not
  // exit within timeout_ms (it is then killed). Output that arrives meanwhile is
  // kept for read_line.
  int wait(int timeout_ms);

  pid_t pid() const { return pid_; }

  // Types `key` on the terminal (terminal children only).
  void press(char key);
  // The terminal's mode now, also after the program has ended (terminal children only).
  termios terminal_mode() const;

 private:
  // Waits up to timeout_ms for output and keeps what arrives.
  void drain(int timeout_ms);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int tty_fd_ = -1;  // the program's side of the terminal, held so its mode outlives the program
  std::string pending_;  // output read but not yet returned as a line
  bool reaped_ = false;
  int status_ = 0;
};

}  // namespace testing_support
