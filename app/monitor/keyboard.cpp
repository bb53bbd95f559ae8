#include "app/monitor/keyboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

namespace tlm {

namespace {

// What read_keys finds in its pipe.
constexpr char kStop = 's', kSuspend = 'z';
// How often the keyboard looks whether it has been brought to the front: a
// shell's fg sends no signal to a job that runs in the background.
constexpr int kFrontCheckMs = 250;

// Whether this process switched the terminal to single keys: not (yet), yes, or
// never again (a fatal signal, or the end), so that nothing switches it back on
// while the process goes.
enum KeyState : int { kOff, kOn, kDone };
std::atomic<int> g_keys{kOff};
// The mode from before, written by the keyboard's thread only while g_keys is kOff.
termios g_saved_mode;
std::atomic<int> g_wake_fd{-1};  // the pipe's write end, for the signal handlers

bool in_front() { return tcgetpgrp(STDIN_FILENO) == getpgrp(); }

void enter_key_mode() {
  termios keys;
  if (g_keys.load() != kOff || tcgetattr(STDIN_FILENO, &keys) != 0) return;
  g_saved_mode = keys;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C and Ctrl-Z still work
  // A read never waits: input flushed between poll and read (Ctrl-Z flushes it)
  // must not hold the thread.
  keys.c_cc[VMIN] = 0;
  keys.c_cc[VTIME] = 0;
  int off = kOff;
  if (g_keys.compare_exchange_strong(off, kOn)) tcsetattr(STDIN_FILENO, TCSANOW, &keys);
}

// Only from the front: in the background the terminal is the shell's, in the
// mode the shell set. Async-signal-safe, so the signal handlers use it too.
void restore_mode(KeyState then) {
  if (g_keys.exchange(then) == kOn && in_front()) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
}

void wake(char why) {
  const int saved_errno = errno;
  const int fd = g_wake_fd.load();
  if (fd >= 0 && write(fd, &why, 1) < 0) {
  }
  errno = saved_errno;
}

void on_suspend_key(int) { wake(kSuspend); }

// Ctrl-Z: the terminal gets its mode back, then the process stops as it would
// have by default; the shell's fg or bg continues it here.
void suspend() {
  restore_mode(kOff);
  signal(SIGTSTP, SIG_DFL);
  raise(SIGTSTP);
  signal(SIGTSTP, on_suspend_key);
}

// Signals that end the process without going through the main loop (the stop
// signals go through it and so through stop()).
constexpr int kFatalSignals[] = {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Restores the terminal, then lets the signal do what it would have done.
void on_fatal_signal(int sig) {
  restore_mode(kDone);
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

Keyboard::~Keyboard() { stop(); }

bool Keyboard::start(std::function<void(char)> on_key) {
  // tcgetpgrp fails on a terminal that is not this process's own.
  if (!isatty(STDIN_FILENO) || tcgetpgrp(STDIN_FILENO) < 0 || pipe2(wake_, O_CLOEXEC) != 0) return false;
  static bool exit_hook = false;
  if (!exit_hook) exit_hook = atexit([] { restore_mode(kDone); }) == 0;
  g_keys = kOff;
  for (int sig : kFatalSignals) signal(sig, on_fatal_signal);
  g_wake_fd = wake_[1];
  signal(SIGTSTP, on_suspend_key);
  const bool front = in_front();
  if (front) enter_key_mode();
  on_key_ = std::move(on_key);
  thread_ = std::thread([this] { read_keys(); });
  return front;
}

void Keyboard::stop() {
  if (thread_.joinable()) {
    while (write(wake_[1], &kStop, 1) == -1 && errno == EINTR) {
    }
    thread_.join();
    signal(SIGTSTP, SIG_DFL);
    g_wake_fd = -1;
  }
  restore_mode(kDone);
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

// Reads the terminal only while in front. run() ignores SIGTTIN, so a read that
// races a move to the background fails with EIO instead of stopping the process.
void Keyboard::read_keys() {
  for (;;) {
    const bool front = in_front();
    if (front) {
      enter_key_mode();
    } else {
      int on = kOn;  // the shell has the terminal now, in its own mode
      g_keys.compare_exchange_strong(on, kOff);
    }
    pollfd fds[2] = {{front ? STDIN_FILENO : -1, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (poll(fds, 2, front ? -1 : kFrontCheckMs) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents & POLLIN) {
      char why = 0;
      if (read(wake_[0], &why, 1) == 1 && why == kStop) return;
      if (why == kSuspend) suspend();
      continue;
    }
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    if (!(fds[0].revents & POLLIN)) continue;  // time to look at the front again
    char key;
    const ssize_t got = read(STDIN_FILENO, &key, 1);
    if (got == 1) on_key_(key);
    if (got < 0 && errno != EIO && errno != EINTR && errno != EAGAIN) return;
  }
}

}  // namespace tlm
