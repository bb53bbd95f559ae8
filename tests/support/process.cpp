#include "tests/support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

extern char** environ;

namespace testing_support {

namespace {

[[noreturn]] void exec_child(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  for (const std::string& e : env) {
    if (e[0] == '-')
      unsetenv(e.c_str() + 1);
    else
      putenv(const_cast<char*>(e.c_str()));
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

// Reads both descriptors until they close or the deadline passes, then reaps the child.
ProcessResult collect(pid_t pid, int out_fd, int err_fd, int timeout_ms) {
  ProcessResult result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  int fds[2] = {out_fd, err_fd};
  std::string* sinks[2] = {&result.out, &result.err};
  while (fds[0] >= 0 || fds[1] >= 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    pollfd p[2];
    for (int i = 0; i < 2; ++i) p[i] = {fds[i], POLLIN, 0};
    if (poll(p, 2, static_cast<int>(left.count())) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0 || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      ssize_t n = read(fds[i], buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i]);
        fds[i] = -1;
      }
    }
  }
  for (int fd : fds)
    if (fd >= 0) close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          int timeout_ms) {
  int out[2], err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    exec_child(argv, env);
  }
  close(out[1]);
  close(err[1]);
  return collect(pid, out[0], err[0], timeout_ms);
}

ProcessResult run_in_terminal(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                              int timeout_ms) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
  std::string slave_name = ptsname(master);
  int err[2];
  if (pipe(err) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    setsid();
    int slave = open(slave_name.c_str(), O_RDWR);
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(slave, 1);
    dup2(err[1], 2);
    close(master);
    close(err[0]);
    exec_child(argv, env);
  }
  close(err[1]);
  // The terminal reports EIO instead of end-of-file once the child has gone.
  return collect(pid, master, err[0], timeout_ms);
}

}  // namespace testing_support
