// A program started in the background for the length of a test, such as a test
// server, with its standard output read line by line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class BackgroundProcess {
 public:
  // Starts argv[0] with standard input from /dev/null and standard output on a
  // pipe; standard error is inherited.
  explicit BackgroundProcess(const std::vector<std::string>& argv);
  // Kills the process if it still runs.
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // The next line of output without its line feed; false on time-out or end of output.
  bool read_line(std::string& line, int timeout_ms = 5000);
  // Reads lines until one contains `text`; false on time-out or end of output.
  bool wait_for(const std::string& text, std::string* line = nullptr, int timeout_ms = 5000);
  // Sends `sig` and waits for the exit; the exit code, or -1 when the process was
  // killed by a signal or had to be killed after timeout_ms.
  int stop(int sig, int timeout_ms = 5000);
  // Everything the process wrote that has not been read as a line yet, up to
  // the end of its output (waits at most timeout_ms).
  std::string rest(int timeout_ms = 2000);

 private:
  bool fill(int timeout_ms);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  std::string pending_;
  bool eof_ = false;
  int exit_code_ = -1;
};

}  // namespace testing_support
