// The pool switch on a clock the test turns: it leaves a failing first pool for
// the backup, probes the first pool with a real connection and goes back once
// the probe gets a job; reports of a pool already left change nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/console/log.h"
#include "app/pool_switch.h"
#include "tests/support/loopback_server.h"
#include "tests/support/pool_lines.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/text_match.h"

namespace {

using namespace std::chrono_literals;
using testing_support::LoopbackServer;

TEST(PoolSwitch, LeavesAFailingFirstPoolAndGoesBackWhenAProbeGetsAJob) {
  LoopbackServer first, backup;
  const std::vector<tlm::PoolAddress> pools{{"127.0.0.1", first.port(), false}, {"127.0.0.1", backup.port(), false}};
  std::atomic<int64_t> now_ms{0};
  std::vector<size_t> restarts;  // the pool each restart started the client on
  tlm::PoolSwitch* self = nullptr;
  tlm::Failover::Timing timing;
  timing.probe_every = 10s;
  tlm::PoolSwitch pool_switch(
      pools, timing,
      [&](const std::function<void()>& change) {
        for (int i = 0; i < 3; ++i) self->dialled(false);  // the stopping connection's, not the new pool's
        change();
        restarts.push_back(self->current());
      },
      [&](size_t pool) { return tlm::Stratum::Config{pools[pool], {"W", "x", "test"}, {}}; },
      [&] { return tlm::PoolSwitch::Clock::time_point{} + std::chrono::milliseconds(now_ms.load()); });
  self = &pool_switch;

  tlm::g_color = false;
  const std::string log = testing_support::log_of([&] {
    for (int i = 0; i < 2; ++i) pool_switch.dialled(false);
    pool_switch.step();
    EXPECT_EQ(pool_switch.current(), 0u);  // two failures are not enough
    pool_switch.dialled(false);
    pool_switch.step();
    ASSERT_EQ(pool_switch.current(), 1u);
    pool_switch.step();  // the reports from the restart counted for no pool
    EXPECT_EQ(pool_switch.current(), 1u);

    now_ms = 10000;
    pool_switch.step();  // the probe connects to the first pool beside the backup
    testing_support::LoopbackPeer probe = first.accept_session();
    ASSERT_TRUE(probe.valid());
    probe.send("{\"id\":1,\"result\":[null,\"01020304\"],\"error\":null}\n" +
               testing_support::set_target_line("\"00ff\"") + "\n" + testing_support::notify_line("j") + "\n");
    for (int i = 0; i < 1000 && pool_switch.current() != 0; ++i) {
      std::this_thread::sleep_for(10ms);
      pool_switch.step();
    }
  });
  tlm::g_color = true;
  EXPECT_EQ(restarts, (std::vector<size_t>{1, 0}));
  const std::string a = "127.0.0.1:" + std::to_string(first.port()), b = "127.0.0.1:" + std::to_string(backup.port());
  for (const std::string& line : {"switching from " + a + " to " + b + ": 3 connection attempts failed",
                                  "first pool: connected to " + a,
                                  "switching from " + b + " to " + a + ": the first pool delivers jobs again"})
    EXPECT_NE(log.find("[T] " + line + "\n"), std::string::npos) << line << " not in\n" << log;
}

}  // namespace
