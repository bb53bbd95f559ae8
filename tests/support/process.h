// Runs a program as a user would: start it, read its output line by line against
// a deadline, type on its terminal, signal it, wait for its exit with a deadline;
// and the files it writes.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct Launch {
  Launch(std::vector<std::string> argv, std::vector<std::string> env = {}, bool terminal = false)
      : argv(std::move(argv)), env(std::move(env)), terminal(terminal) {}

  std::vector<std::string> argv;  // argv[0] is the program's path
  std::vector<std::string> env;   // "NAME=value" sets, "-NAME" removes
  // Standard input and output a new pseudo-terminal that is the program's
  // controlling terminal, with the program in front; otherwise standard input
  // is /dev/null and standard output a pipe.
  bool terminal = false;
  std::function<void()> prepare;  // runs in the child just before exec (to close or redirect descriptors)
};

struct Result {
  int exit_code = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

class Process {
 public:
  explicit Process(const Launch& launch);
  // Kills the program if it still runs and reaps it.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Next line of standard output without its line end. False when the output
  // ended or nothing complete arrived within timeout_ms.
  bool read_line(std::string& line, int timeout_ms);

  void signal(int sig);
  // Exit code after a normal exit; -1 when it was killed by a signal or did not
  // exit within timeout_ms (it is then killed). Output that arrives meanwhile, or
  // is waiting at the exit, is kept.
  int wait(int timeout_ms);

  pid_t pid() const { return pid_; }

  // Types `key` on the terminal (terminal programs only).
  void press(char key);
  // The terminal's mode now, also after the program has ended (terminal programs only).
  termios terminal_mode() const;

  // Runs the program to its end (killed after timeout_ms) and returns what it printed.
  friend Result run(const Launch& launch, int timeout_ms);

 private:
  // Waits up to timeout_ms for output on either descriptor and keeps what
  // arrives; false when nothing did.
  bool drain(int timeout_ms);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int tty_fd_ = -1;  // the program's side of the terminal, held so its mode outlives the program
  std::string out_, err_;
  bool reaped_ = false;
  int status_ = 0;
};

Result run(const Launch& launch, int timeout_ms = 20000);

// A new directory under /tmp, removed with what it holds.
struct TempDir {
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path;
};

// The whole file; empty when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace testing_support
