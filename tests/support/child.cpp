#include "tests/support/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// Rounded up, so that a short time-out still gets its one look at the pipe.
int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, bool terminal) {
  int out[2] = {-1, -1};
  std::string tty_name;
  if (terminal) {
    out[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (out[0] < 0 || grantpt(out[0]) != 0 || unlockpt(out[0]) != 0) return;
    tty_name = ptsname(out[0]);
    tty_fd_ = open(tty_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else if (pipe2(out, O_CLOEXEC) != 0) {
    return;
  }
  pid_ = fork();
  if (pid_ == 0) {
    if (terminal) {
      setsid();
      int tty = open(tty_name.c_str(), O_RDWR);  // a session leader's first terminal becomes its own
      dup2(tty, 0);
      dup2(tty, 1);
    } else {
      int devnull = open("/dev/null", O_RDONLY);
      dup2(devnull, 0);
      dup2(out[1], 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  if (out[1] >= 0) close(out[1]);
  out_fd_ = out[0];
}

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (out_fd_ >= 0) close(out_fd_);
  if (tty_fd_ >= 0) close(tty_fd_);
}

void Child::drain(int timeout_ms) {
  if (out_fd_ < 0) {
    usleep(static_cast<useconds_t>(timeout_ms) * 1000);
    return;
  }
  pollfd p{out_fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return;
  char buf[4096];
  ssize_t n = read(out_fd_, buf, sizeof buf);
  if (n <= 0) {
    close(out_fd_);
    out_fd_ = -1;
  } else {
    pending_.append(buf, static_cast<size_t>(n));
  }
}

bool Child::read_line(std::string& line, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t eol = pending_.find('\n');
    if (eol != std::string::npos) {
      // A terminal ends its lines with a carriage return as well.
      line = pending_.substr(0, eol > 0 && pending_[eol - 1] == '\r' ? eol - 1 : eol);
      pending_.erase(0, eol + 1);
      return true;
    }
    if (out_fd_ < 0) return false;
    int left = ms_left(deadline);
    if (left == 0) return false;
    drain(left);
  }
}

bool Child::wait_for(const std::string& text, int timeout_ms, std::vector<std::string>* seen) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string line;
  while (read_line(line, ms_left(deadline))) {
    if (seen != nullptr) seen->push_back(line);
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

void Child::press(char key) {
  while (write(out_fd_, &key, 1) == -1 && errno == EINTR) {
  }
}

termios Child::terminal_mode() const {
  termios mode{};
  tcgetattr(tty_fd_, &mode);
  return mode;
}

void Child::signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int Child::wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_) {
    pid_t r = waitpid(pid_, &status_, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      break;
    }
    if (ms_left(deadline) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
      reaped_ = true;
      return -1;
    }
    drain(10);
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

}  // namespace testing_support
