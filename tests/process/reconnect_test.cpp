// Connections that a pool ends, again and again: the miner comes back and its
// shares count again.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/process/session.h"

namespace faults {
namespace {

// Pools that end the first few connections: the miner comes back and its shares
// count again; what a pool sent before does not stay in its memory. (Every way a
// connection ends, with the pause after it, is in the pool client's own tests.)
TEST(Reconnect, ConnectionsEndedByThePoolAreRedialled) {
  const struct {
    std::vector<std::string> pool;
    size_t ended;
  } cases[] = {
      {{"--job-interval", "1", "--close-after", "7", "--garbage", "--retarget-interval", "0.7"}, 2},
      {{"--overlong-line"}, 3},
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
    EXPECT_EQ(miner.count("cannot connect"), 0u);
    // Lines of 1 MiB and more do not add up. The sanitizers keep freed blocks in
    // quarantine, so there the limit only catches gross growth.
    EXPECT_LT(rss_after_last - rss_after_first, kSanitized ? 64 * 1024 : 2 * 1024) << "kB";
    EXPECT_LT(peak, kSanitized ? 2 * 1024 * 1024 : 48 * 1024) << "kB";
    expect_no_share_lost(miner, pool);
  }
}

}  // namespace
}  // namespace faults
