#include "app/keyboard.h"

#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tlm {

namespace {

// The terminal mode found at start; written before the handlers that read it exist.
termios g_saved_mode;
volatile sig_atomic_t g_mode_changed = 0;

// Async-signal-safe, so the signal handler can use it too.
void restore_mode() {
  if (g_mode_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_mode);
    g_mode_changed = 0;
  }
}

// Signals that end the process without going through the main loop (the stop
// signals go through it and so through stop()).
constexpr int kFatalSignals[] = {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

// Restores the terminal, then lets the signal do what it would have done.
void on_fatal_signal(int sig) {
  restore_mode();
  signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

Keyboard::~Keyboard() { stop(); }

bool Keyboard::start(std::function<void(char)> on_key) {
  if (!isatty(STDIN_FILENO) || tcgetpgrp(STDIN_FILENO) != getpgrp()) return false;
  if (tcgetattr(STDIN_FILENO, &g_saved_mode) != 0 || pipe(wake_) != 0) return false;
  static bool exit_hook = false;
  if (!exit_hook) exit_hook = atexit(restore_mode) == 0;
  for (int sig : kFatalSignals) signal(sig, on_fatal_signal);

  termios keys = g_saved_mode;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);  // ISIG stays: Ctrl-C still sends SIGINT
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  g_mode_changed = 1;
  tcsetattr(STDIN_FILENO, TCSANOW, &keys);

  on_key_ = std::move(on_key);
  thread_ = std::thread([this] { read_keys(); });
  return true;
}

void Keyboard::stop() {
  if (thread_.joinable()) {
    char end = 0;
    while (write(wake_[1], &end, 1) == -1 && errno == EINTR) {
    }
    thread_.join();
  }
  restore_mode();
  for (int& fd : wake_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

void Keyboard::read_keys() {
  pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return;
    char key;
    if (read(STDIN_FILENO, &key, 1) != 1) return;
    on_key_(key);
  }
}

}  // namespace tlm
