// The memory a miner can be made to use: per mining thread (the engine context)
// and whatever a pool sends (the receive buffer, the parsed tree, the job record)
// have fixed ceilings.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/process/session.h"

namespace faults {
namespace {

long mining_rss_kib(int threads) {
  Pool pool({"--difficulty", share_difficulty()});
  Miner miner(pool.port(), {"-t", std::to_string(threads)});
  miner.until_count("new job ", 1, 20000, &pool);
  miner.until([] { return false; }, 1500, &pool);  // every thread has its context by now
  const long rss = miner.status_field("VmRSS");
  miner.stop(SIGINT);
  return rss;
}

TEST(ResourceBounds, EachMiningThreadCostsItsEngineContextAndLittleMore) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers' shadow memory hides the figure";
  const long one = mining_rss_kib(1);
  const long three = mining_rss_kib(3);
  ASSERT_GT(one, 0);
  // The 2 MiB lane area, the 9 KiB job state and a stack's worth of touched pages.
  EXPECT_LT((three - one) / 2, 3 * 1024) << one << " kB with one thread, " << three << " kB with three";
  EXPECT_LT(one, 32 * 1024);
}

}  // namespace
}  // namespace faults
