// Connections that end, again and again, in every way a pool or network ends
// them: the miner comes back after its pauses and its shares count again.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"

namespace faults {
namespace {

using testing_support::LoopbackPeer;
using testing_support::LoopbackServer;

// Seconds from each "disconnected, retrying" to the connection after it.
std::vector<double> retry_pauses(const Miner& m) {
  std::vector<double> pauses;
  const auto& log = m.log();
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].text != "disconnected, retrying") continue;
    for (size_t j = i + 1; j < log.size(); ++j) {
      if (log[j].text.rfind("connected to ", 0) == 0) {
        pauses.push_back(std::chrono::duration<double>(log[j].at - log[i].at).count());
        break;
      }
    }
  }
  return pauses;
}

TEST(Reconnect, ClosedConnectionsWithJunkAndRetargetsAreRedialledAfterThreeSeconds) {
  Pool pool({"--difficulty", share_difficulty(), "--job-interval", "1", "--close-after", "7", "--faulty-connections",
             "3", "--garbage", "--retarget-interval", "0.7"});
  Miner miner(pool.port());
  ASSERT_TRUE(miner.until([&] { return miner.count("connected to ") >= 4 && accepted_after_last(miner, "connected to "); },
                          90000, &pool))
      << miner.log_text();
  EXPECT_EQ(miner.stop(SIGINT), 0);
  EXPECT_EQ(miner.count("disconnected, retrying"), 3u);
  for (double pause : retry_pauses(miner)) {
    EXPECT_GE(pause, 2.9);
    EXPECT_LT(pause, 6.0);
  }
  EXPECT_EQ(miner.count("cannot connect"), 0u);
  expect_no_share_lost(miner, pool);
}

TEST(Reconnect, SilentPoolIsLeftAfterTheSilenceRule) {
  Pool pool({"--difficulty", share_difficulty(), "--silent", "--faulty-connections", "2"});
  Miner miner(pool.port());
  ASSERT_TRUE(miner.until([&] { return miner.count("connected to ") >= 3 && accepted_after_last(miner, "connected to "); },
                          60000, &pool))
      << miner.log_text();
  EXPECT_EQ(miner.stop(SIGTERM), 0);
  EXPECT_EQ(miner.count("no data from the pool for 10 min, reconnecting"), 2u);
  EXPECT_EQ(miner.count("disconnected, retrying"), 2u);
  expect_no_share_lost(miner, pool);
}

TEST(Reconnect, ReconnectRequestsManyTimesInARow) {
  Pool pool({"--difficulty", share_difficulty(), "--send-reconnect", "--faulty-connections", "4"});
  Miner miner(pool.port());
  ASSERT_TRUE(miner.until([&] { return miner.count("connected to ") >= 5 && accepted_after_last(miner, "connected to "); },
                          60000, &pool))
      << miner.log_text();
  EXPECT_EQ(miner.stop(SIGINT), 0);
  EXPECT_EQ(miner.count("pool asked to reconnect"), 4u);
  EXPECT_EQ(miner.count("disconnected, retrying"), 4u);
  for (double pause : retry_pauses(miner)) EXPECT_GE(pause, 2.9);
  expect_no_share_lost(miner, pool);
}

TEST(Reconnect, PoolThatNeverAnswersSubscribeIsLeftAndDialledAgain) {
  LoopbackServer server;
  Miner miner(server.port());
  LoopbackPeer first = server.accept(20000);
  ASSERT_TRUE(first.valid());
  std::string line;
  ASSERT_TRUE(first.read_line(line, 10000));
  EXPECT_NE(line.find("\"mining.subscribe\""), std::string::npos) << line;
  // Nothing is ever answered: the silence rule ends the connection and the miner
  // dials again after its pause.
  LoopbackPeer second = server.accept(20000);
  ASSERT_TRUE(second.valid());
  ASSERT_TRUE(miner.until_count("connected to ", 2, 5000)) << miner.log_text();
  EXPECT_EQ(miner.count("no data from the pool for 10 min, reconnecting"), 1u);
  EXPECT_EQ(miner.stop(SIGTERM), 0);
  EXPECT_EQ(miner.log().back().text, "stopping");
}

}  // namespace
}  // namespace faults
