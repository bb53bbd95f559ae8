// SIGINT and SIGTERM in every stage of the miner's life: it always ends with exit
// code 0, "stopping" as its last line, and promptly.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <functional>
#include <memory>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"

namespace faults {
namespace {

using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

// A miner brought to one stage of its life, with whatever keeps it there.
struct Stage {
  std::unique_ptr<Pool> pool;
  std::unique_ptr<LoopbackServer> server;
  LoopbackPeer peer;
  std::unique_ptr<Miner> miner;
};

void stop_at_every_stage(int sig) {
  const struct {
    const char* name;
    std::function<void(Stage&)> reach;
  } stages[] = {
      {"a connect that hangs",
       [](Stage& s) {
         s.server = std::make_unique<LoopbackServer>(0);  // its queue full with one waiting connection
         s.peer = testing_support::connect_loopback(s.server->port());
         s.miner = std::make_unique<Miner>(s.server->port());
         ASSERT_TRUE(s.miner->until_count("pool ", 1, 20000));
         s.miner->until([] { return false; }, 1000);
         EXPECT_EQ(s.miner->count("connected to "), 0u) << "the queue was not full";
       }},
      {"connected again after the silence rule left a pool that never answered",
       [](Stage& s) {
         s.server = std::make_unique<LoopbackServer>();
         s.miner = std::make_unique<Miner>(s.server->port(), std::vector<std::string>{"--pool-silence", "1"});
         LoopbackPeer first = s.server->accept(20000);
         s.peer = s.server->accept(20000);
         ASSERT_TRUE(s.miner->until_count("connected to ", 2, 20000)) << s.miner->log_text();
         EXPECT_EQ(s.miner->count("no data from the pool for 1 s, reconnecting"), 1u);
       }},
      {"mining, started with the stop signals blocked (as a supervisor may)",
       [](Stage& s) {
         s.pool = std::make_unique<Pool>(std::vector<std::string>{"--difficulty", share_difficulty()});
         sigset_t stop, previous;
         sigemptyset(&stop);
         sigaddset(&stop, SIGINT);
         sigaddset(&stop, SIGTERM);
         pthread_sigmask(SIG_BLOCK, &stop, &previous);
         s.miner = std::make_unique<Miner>(s.pool->port());
         pthread_sigmask(SIG_SETMASK, &previous, nullptr);
         ASSERT_TRUE(s.miner->until_count("share found", 2, 60000, s.pool.get())) << s.miner->log_text();
       }},
      {"mining while the pool reads nothing, with shares waiting to be sent",
       [](Stage& s) {
         s.pool = std::make_unique<Pool>(std::vector<std::string>{"--difficulty", kSanitized ? "300" : "4000",
                                                                  "--stall-after", "2", "--stall-for", "100"});
         // A fixed lane count: mining starts at once, not after measuring, and has
         // found shares well before the stall.
         s.miner = std::make_unique<Miner>(s.pool->port(), std::vector<std::string>{"-t", "2", "--lanes", "32"});
         // Enough shares after the stall began to fill the socket buffers and queue some.
         size_t at_stall = 0;
         ASSERT_TRUE(s.miner->until(
             [&] {
               if (at_stall == 0 && s.pool->count("stalled") > 0) at_stall = s.miner->count("share found") + 1;
               return at_stall > 0 && s.miner->count("share found") > at_stall + 40;
             },
             60000, s.pool.get()))
             << s.miner->log_text();
       }},
      {"the pause after a connection ended",
       [](Stage& s) {
         s.pool = std::make_unique<Pool>(std::vector<std::string>{"--close-after", "4"});
         s.miner = std::make_unique<Miner>(s.pool->port());
         ASSERT_TRUE(s.miner->until_count("disconnected, retrying", 1, 20000, s.pool.get())) << s.miner->log_text();
       }},
  };
  for (const auto& stage : stages) {
    SCOPED_TRACE(stage.name);
    Stage s;
    stage.reach(s);
    if (testing::Test::HasFatalFailure()) return;
    expect_prompt_stop(*s.miner, sig);
    EXPECT_TRUE(s.miner->log_text().ends_with("\nstopping\n")) << s.miner->log_text();
    // Every share found up to the stop is accounted for.
    if (s.pool) expect_no_share_lost(*s.miner, *s.pool);
  }
}

TEST(Signals, SigintAndSigtermAtEveryStage) {
  stop_at_every_stage(SIGINT);
  stop_at_every_stage(SIGTERM);
}

}  // namespace
}  // namespace faults
