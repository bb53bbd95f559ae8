// What a pool can send that a miner must survive, all at once: junk lines, jobs
// that break a rule, replies to no request (strings, negative, fractional, huge,
// repeated), lines in pieces of a few bytes, and on the first connections a line
// of over 1 MiB that never ends. Each of these on its own is in the pool client's
// tests; here the program mines on, its memory stays flat and the books of shares
// agree.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/process/session.h"

namespace faults {
namespace {

TEST(BadInput, APoolThatSendsEverythingWrongIsMinedOnWithoutLosingAShare) {
  const size_t ended = 2;  // connections ended by the endless line
  Pool pool({"--difficulty", share_difficulty(), "--job-interval", "2", "--garbage", "--bad-jobs", "--split-writes",
             "--stray-replies", "--overlong-line", "--faulty-connections", std::to_string(ended)});
  Miner miner(pool.port());
  ASSERT_TRUE(miner.until_count("connected to ", 2, 30000, &pool)) << miner.log_text();
  const long rss_after_first = miner.status_field("VmRSS");
  // The pool's own log tells that mining went on to a later job: the miner's "new
  // job" lines share the budget for pool lines with the junk's.
  ASSERT_TRUE(miner.until(
      [&] {
        return miner.count("connected to ") > ended && accepted_after_last(miner, "connected to ") &&
               pool.count("share accepted") > pool.count("job \"1\" hash");
      },
      90000, &pool))
      << miner.log_text() << "pool:\n" << pool.log_text();
  const long rss_after_last = miner.status_field("VmRSS"), peak = miner.status_field("VmHWM");
  EXPECT_EQ(miner.stop(SIGINT), 0);

  // What the miner makes of each kind of fault is in the pool client's tests.
  EXPECT_EQ(miner.count("new job bad-"), 0u);
  EXPECT_EQ(miner.count("disconnected, retrying"), ended);
  // Lines of 1 MiB and more do not add up. The sanitizers keep freed blocks in
  // quarantine, so there the limit only catches gross growth.
  EXPECT_LT(rss_after_last - rss_after_first, kSanitized ? 64 * 1024 : 2 * 1024) << "kB";
  EXPECT_LT(peak, kSanitized ? 2 * 1024 * 1024 : 48 * 1024) << "kB";
  expect_no_share_lost(miner, pool);
}

}  // namespace
}  // namespace faults
