// The miner as a job of a shell, ended by each stop signal in each job-control state:
// the terminal never stops it, it ends promptly and leaves the terminal as found.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "tests/process/session.h"

namespace faults {
namespace {

// A job-control shell in miniature, run in the miner's terminal (`stty tostop`)
// before exec: it runs the miner as a job in a process group of its own, in
// front, and when the job stops takes the terminal back and logs it. SIGUSR1 is
// fg, SIGUSR2 bg; fg and a stop signal send SIGCONT only to a stopped job, as
// bash does. It exits with the job's exit code, or 128 plus the signal that
// ended it.
void become_shell() {
  termios mode;
  tcgetattr(0, &mode);
  mode.c_lflag |= TOSTOP;
  tcsetattr(0, TCSANOW, &mode);
  signal(SIGTTOU, SIG_IGN);
  const pid_t job = fork();
  if (job == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // a failed test kills the shell, and so the job
    setpgid(0, 0);
    tcsetpgrp(0, getpid());
    signal(SIGTTOU, SIG_DFL);
    return;  // on to exec the miner
  }
  setpgid(job, job);
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGCHLD, SIGUSR1, SIGUSR2, SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&set, sig);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  for (bool stopped = false;;) {
    const int sig = sigwaitinfo(&set, nullptr);
    for (int status; waitpid(job, &status, WNOHANG | WUNTRACED) == job; stopped = true) {
      if (!WIFSTOPPED(status)) _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
      tcsetpgrp(0, getpgrp());
      const char said[] = "[2000-01-01 00:00:00] job stopped\n";
      if (write(1, said, sizeof said - 1) < 0) _exit(127);
    }
    if (sig == SIGUSR1) tcflush(0, TCIFLUSH);  // what was typed at the shell was the shell's
    if (sig == SIGUSR1 || sig == SIGUSR2) tcsetpgrp(0, sig == SIGUSR1 ? job : getpgrp());
    if (sig != SIGUSR1 && sig != SIGUSR2 && sig != SIGCHLD) kill(-job, sig);
    if (sig == SIGUSR2 || (stopped && sig != SIGCHLD)) {
      kill(-job, SIGCONT);
      stopped = false;
    }
  }
}

bool line_mode(const Miner& m) { return (m.terminal_mode().c_lflag & (ICANON | ECHO)) == (ICANON | ECHO); }

TEST(JobControl, EveryStopSignalEndsTheMinerInEveryJobStateAndTheTerminalIsLeftAsFound) {
  const rlimit no_core{0, 0};  // SIGQUIT would leave a core file
  setrlimit(RLIMIT_CORE, &no_core);
  // A new share difficulty five times a second: log lines the miner writes on its own.
  Pool pool({"--retarget-interval", "0.2"});
  // Each state is reached through the steps of those above it.
  const std::pair<const char*, std::function<void(Miner&)>> states[] = {
      {"in front", nullptr},
      {"stopped by Ctrl-Z",
       [](Miner& m) {
         m.press('\x1a');
         ASSERT_TRUE(m.until_count("job stopped", 1, 10000)) << m.log_text();
         EXPECT_TRUE(line_mode(m)) << "single keys left on";
       }},
      {"in the background after bg, keys typed at the shell",
       [&](Miner& m) {
         kill(m.pid(), SIGUSR2);
         for (char key : std::string("ls\n")) m.press(key);
         ASSERT_TRUE(m.until_count("share difficulty", m.count("share difficulty") + 1, 10000, &pool)) << "stopped";
       }},
      {"in front again after fg, a key pressed",
       [](Miner& m) {
         kill(m.pid(), SIGUSR1);
         ASSERT_TRUE(m.until([&] { return !line_mode(m); }, 10000)) << "no single keys after fg";
         m.press('?');
         ASSERT_TRUE(m.until_count("keys: ", 2, 10000)) << m.log_text();
       }},
  };
  for (size_t state = 0; state < std::size(states); ++state) {
    std::vector<int> signals{SIGTERM, SIGINT, SIGHUP};
    if (state == 0) signals.push_back(SIGQUIT);
    std::vector<std::unique_ptr<Miner>> jobs;  // one per signal, started together
    for (size_t i = 0; i < signals.size(); ++i)
      jobs.push_back(std::make_unique<Miner>(pool.port(), std::vector<std::string>{}, "127.0.0.1", true, become_shell));
    for (size_t i = 0; i < signals.size(); ++i) {
      Miner& m = *jobs[i];
      SCOPED_TRACE(std::string(states[state].first) + ", then " + strsignal(signals[i]));
      ASSERT_TRUE(m.until_count("keys: ", 1, 60000, &pool)) << m.log_text();
      m.press('p');  // taken without Enter; and nothing is to be gained from mining here
      ASSERT_TRUE(m.until_count("paused", 1, 10000, &pool));
      for (size_t step = 1; step <= state && !testing::Test::HasFatalFailure(); ++step) states[step].second(m);
      if (testing::Test::HasFatalFailure()) return;
      double seconds = 0;
      EXPECT_EQ(m.stop(signals[i], &seconds), signals[i] == SIGQUIT ? 128 + SIGQUIT : 0);
      EXPECT_LT(seconds, kStopSeconds);
      EXPECT_TRUE(line_mode(m));
    }
  }
}

}  // namespace
}  // namespace faults
