// Threads that never take the signals the main thread acts on.
#pragma once

#include <pthread.h>
#include <signal.h>

namespace tlm {

// SIGINT, SIGTERM and SIGHUP, which stop the miner, and SIGUSR1, which reopens the
// log file.
inline sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  return set;
}

// Runs `start`, which starts threads, with the stop signals blocked, so a stop
// signal always reaches the main thread: it sleeps in nanosleep and acts on it,
// while a signal landing on a pool or mining thread would interrupt its connect,
// send or sleep instead.
template <typename Start>
void start_without_stop_signals(Start start) {
  const sigset_t stop = stop_signals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stop, &previous);
  start();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace tlm
