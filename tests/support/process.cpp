#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <sstream>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// Rounded up, so that a short time-out still gets its one look at the pipes.
int ms_left(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Process::Process(const Launch& launch) {
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  std::string tty_name;
  if (launch.terminal) {
    out[0] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (out[0] < 0 || grantpt(out[0]) != 0 || unlockpt(out[0]) != 0) return;
    tty_name = ptsname(out[0]);
    tty_fd_ = open(tty_name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  } else if (pipe2(out, O_CLOEXEC) != 0) {
    return;
  }
  if (pipe2(err, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    if (launch.terminal) {
      setsid();
      int tty = open(tty_name.c_str(), O_RDWR);  // a session leader's first terminal becomes its own
      dup2(tty, 0);
      dup2(tty, 1);
    } else {
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(out[1], 1);
    }
    dup2(err[1], 2);
    for (const std::string& e : launch.env) {
      if (e[0] == '-')
        unsetenv(e.c_str() + 1);
      else
        putenv(const_cast<char*>(e.c_str()));
    }
    if (launch.prepare) launch.prepare();
    std::vector<char*> args;
    for (const std::string& a : launch.argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  if (out[1] >= 0) close(out[1]);
  close(err[1]);
  out_fd_ = out[0];
  err_fd_ = err[0];
}

Process::~Process() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  for (int fd : {out_fd_, err_fd_, tty_fd_})
    if (fd >= 0) close(fd);
}

bool Process::drain(int timeout_ms) {
  // poll skips closed (negative) descriptors, and with both closed it only waits.
  pollfd p[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
  if (poll(p, 2, timeout_ms) <= 0) return false;
  bool got = false;
  int* fds[2] = {&out_fd_, &err_fd_};
  std::string* sinks[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (*fds[i] < 0 || p[i].revents == 0) continue;
    char buf[4096];
    // A terminal reports EIO instead of end-of-file once the program has gone.
    const ssize_t n = read(*fds[i], buf, sizeof buf);
    if (n > 0) {
      sinks[i]->append(buf, static_cast<size_t>(n));
      got = true;
    } else if (n == 0 || errno != EINTR) {
      close(*fds[i]);
      *fds[i] = -1;
    }
  }
  return got;
}

bool Process::read_line(std::string& line, int timeout_ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const size_t eol = out_.find('\n');
    if (eol != std::string::npos) {
      // A terminal ends its lines with a carriage return as well.
      line = out_.substr(0, eol > 0 && out_[eol - 1] == '\r' ? eol - 1 : eol);
      out_.erase(0, eol + 1);
      return true;
    }
    const int left = ms_left(deadline);
    if (out_fd_ < 0 || left == 0) return false;
    drain(left);
  }
}

void Process::press(char key) {
  while (write(out_fd_, &key, 1) == -1 && errno == EINTR) {
  }
}

termios Process::terminal_mode() const {
  termios mode{};
  tcgetattr(tty_fd_, &mode);
  return mode;
}

void Process::signal(int sig) {
  if (pid_ > 0 && !reaped_) kill(pid_, sig);
}

int Process::wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_) {
    if (waitpid(pid_, &status_, WNOHANG) == pid_) {
      reaped_ = true;
      while (drain(0)) {
      }
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

Result run(const Launch& launch, int timeout_ms) {
  Process p(launch);
  Result r;
  r.exit_code = p.wait(timeout_ms);
  r.out = p.out_;
  r.err = p.err_;
  return r;
}

TempDir::TempDir() {
  char templ[] = "/tmp/tlm-test-XXXXXX";
  path = mkdtemp(templ);
}

TempDir::~TempDir() { std::system(("rm -rf " + path).c_str()); }

std::string read_file(const std::string& path) {
  std::stringstream ss;
  ss << std::ifstream(path).rdbuf();
  return ss.str();
}

}  // namespace testing_support
