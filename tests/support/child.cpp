#include "tests/support/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// Rounded up, so that a short time-out still gets its one look at the pipe.
int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Child::Child(const std::vector<std::string>& argv) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out[1], 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  out_fd_ = out[0];
}

Child::~Child() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (out_fd_ >= 0) close(out_fd_);
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
      line = pending_.substr(0, eol);
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
