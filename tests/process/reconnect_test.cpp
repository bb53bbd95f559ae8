// Connections that end, again and again, in every way a pool or network ends
// them: the miner comes back after its pauses and its shares count again.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/process/session.h"

namespace faults {
namespace {

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

// Pools that end the first few connections in one way each: the miner says why,
// pauses 3 s, comes back, and its shares count again; what a pool sent before
// does not stay in its memory.
TEST(Reconnect, ConnectionsEndedByThePoolAreRedialledAfterThreeSeconds) {
  const struct {
    std::vector<std::string> pool;
    size_t ended;
    std::string why;  // logged once for each connection ended
  } cases[] = {
      {{"--job-interval", "1", "--close-after", "7", "--garbage", "--retarget-interval", "0.7"}, 2, ""},
      {{"--silent"}, 2, "no data from the pool for 10 min, reconnecting"},
      {{"--send-reconnect"}, 2, "pool asked to reconnect"},
      {{"--overlong-line"}, 3, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.pool));
    std::vector<std::string> args{"--difficulty", share_difficulty(), "--faulty-connections",
                                  std::to_string(c.ended)};
    args.insert(args.end(), c.pool.begin(), c.pool.end());
    Pool pool(args);
    Miner miner(pool.port());
    ASSERT_TRUE(miner.until_count("connected to ", 2, 30000, &pool)) << miner.log_text();
    const long rss_after_first = miner.status_field("VmRSS");
    ASSERT_TRUE(miner.until(
        [&] { return miner.count("connected to ") > c.ended && accepted_after_last(miner, "connected to "); }, 90000,
        &pool))
        << miner.log_text();
    const long rss_after_last = miner.status_field("VmRSS"), peak = miner.status_field("VmHWM");
    EXPECT_EQ(miner.stop(SIGINT), 0);
    EXPECT_EQ(miner.count("disconnected, retrying"), c.ended);
    EXPECT_EQ(c.why.empty() ? c.ended : miner.count(c.why), c.ended);
    EXPECT_EQ(miner.count("cannot connect"), 0u);
    for (double pause : retry_pauses(miner)) {
      EXPECT_GE(pause, 2.9);
      EXPECT_LT(pause, 6.0);
    }
    // Lines of 1 MiB and more do not add up. The sanitizers keep freed blocks in
    // quarantine, so there the limit only catches gross growth.
    EXPECT_LT(rss_after_last - rss_after_first, kSanitized ? 64 * 1024 : 2 * 1024) << "kB";
    EXPECT_LT(peak, kSanitized ? 2 * 1024 * 1024 : 48 * 1024) << "kB";
    expect_no_share_lost(miner, pool);
  }
}

}  // namespace
}  // namespace faults
