#include "tests/support/background_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace testing_support {

namespace {

int ms_until(std::chrono::steady_clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out[1], 1);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  out_fd_ = out[0];
  if (pid_ < 0) {
    close(out_fd_);
    out_fd_ = -1;
  }
}

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) stop(SIGKILL, 5000);
  if (out_fd_ >= 0) close(out_fd_);
}

bool BackgroundProcess::fill(int timeout_ms) {
  if (out_fd_ < 0 || eof_) return false;
  pollfd p{out_fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return false;
  char buf[4096];
  ssize_t n = read(out_fd_, buf, sizeof buf);
  if (n <= 0) {
    eof_ = true;
    return false;
  }
  pending_.append(buf, static_cast<size_t>(n));
  return true;
}

bool BackgroundProcess::read_line(std::string& line, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      line = pending_.substr(0, lf);
      pending_.erase(0, lf + 1);
      return true;
    }
    if (!fill(ms_until(deadline))) return false;
  }
}

bool BackgroundProcess::wait_for(const std::string& text, std::string* line, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  std::string got;
  while (read_line(got, ms_until(deadline))) {
    if (got.find(text) != std::string::npos) {
      if (line != nullptr) *line = got;
      return true;
    }
  }
  return false;
}

int BackgroundProcess::stop(int sig, int timeout_ms) {
  if (pid_ <= 0) return exit_code_;
  kill(pid_, sig);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (ms_until(deadline) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      status = -1;
      break;
    }
    usleep(5000);
  }
  pid_ = -1;
  exit_code_ = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return exit_code_;
}

std::string BackgroundProcess::rest(int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (fill(ms_until(deadline))) {
  }
  std::string all = std::move(pending_);
  pending_.clear();
  return all;
}

}  // namespace testing_support
