// Shares on their way to pools that behave like real ones: one that retargets
// all the time, one that stops reading. None is sent twice, none is lost without
// a word, and the miner never waits for the pool.
#include <gtest/gtest.h>
#include <signal.h>

#include "tests/process/session.h"

namespace faults {
namespace {

// A few shares a second per thread in every build.
const char* easy_difficulty() { return kSanitized ? "300" : "4000"; }

TEST(ShareFlow, RetargetStormAtASevenBytePrefixSendsNoShareTwice) {
  for (const char* threads : {"1", "2"}) {
    // Hundreds of republications of one job: the target changes every 10 ms.
    Pool pool({"--difficulty", easy_difficulty(), "--prefix-bytes", "7", "--job-interval", "1000",
               "--retarget-interval", "0.01"});
    Miner miner(pool.port(), {"-t", threads});
    ASSERT_TRUE(miner.until([&] { return pool.count("target difficulty") >= 600 && miner.count("share found") >= 20; },
                            120000, &pool))
        << miner.log_text();
    EXPECT_EQ(miner.stop(SIGINT), 0);
    const std::string summary = pool.stop_and_summarize();
    const ExitCounts c = expect_exit_summary_adds_up(miner);
    // None may be a duplicate.
    EXPECT_EQ(summary.find("duplicate share"), std::string::npos) << threads << " threads: " << summary;
    EXPECT_EQ(number_after(summary, "\"accepted\":") + number_after(summary, "\"rejected\":"), c.found) << summary;
    EXPECT_EQ(c.dropped, 0);
  }
}

// Mines until the pool has stopped reading and `done` holds. `at_stall` gets one
// more than the shares found when the stall began (0 until then).
bool mine_into_stall(Miner& miner, Pool& pool, size_t& at_stall, const std::function<bool()>& done) {
  return miner.until(
      [&] {
        if (at_stall == 0 && pool.count("stalled") > 0) at_stall = miner.count("share found") + 1;
        return at_stall > 0 && done();
      },
      60000, &pool);
}

// The pool reads nothing for 10 s but keeps sending: mining goes on, the shares
// wait (beyond the socket's 64 KiB, in the miner's queue), and once the pool reads
// again they all arrive. A few shares a second keep them well under the queue's
// bound even on a machine several times faster.
TEST(ShareFlow, SharesFoundWhileThePoolStopsReadingArriveAfterwards) {
  Pool pool({"--difficulty", kSanitized ? "3000" : "12000", "--retarget-interval", "0.5", "--stall-after", "3",
             "--stall-for", "10"});
  Miner miner(pool.port(), {"-t", "2"});
  size_t at_stall = 0;
  ASSERT_TRUE(mine_into_stall(miner, pool, at_stall, [&] { return pool.count("reading again") > 0; }))
      << miner.log_text();
  const size_t at_resume = miner.count("share found");
  EXPECT_GT(at_resume, at_stall + 3);  // mining went on
  ASSERT_TRUE(miner.until([&] { return pool.count("share accepted") + pool.count("share rejected") >= at_resume; },
                          30000, &pool))
      << pool.log_text();
  EXPECT_EQ(miner.stop(SIGINT), 0);
  const std::string summary = pool.stop_and_summarize();
  const ExitCounts c = expect_exit_summary_adds_up(miner);
  EXPECT_EQ(c.dropped, 0);
  EXPECT_EQ(number_after(summary, "\"accepted\":") + number_after(summary, "\"rejected\":"), c.found) << summary;
}

TEST(ShareFlow, CtrlCDuringAStallExitsWithinTwoSeconds) {
  Pool pool({"--difficulty", easy_difficulty(), "--retarget-interval", "0.5", "--stall-after", "2", "--stall-for",
             "100"});
  Miner miner(pool.port(), {"-t", "2"});
  size_t at_stall = 0;
  // Enough shares after the stall began to fill the socket buffers and queue some.
  ASSERT_TRUE(mine_into_stall(miner, pool, at_stall, [&] { return miner.count("share found") > at_stall + 40; }))
      << miner.log_text();
  double seconds = 0;
  EXPECT_EQ(miner.stop(SIGINT, &seconds), 0);
  EXPECT_LT(seconds, 2.0);
  const ExitCounts c = expect_exit_summary_adds_up(miner);
  EXPECT_GT(c.dropped + c.in_flight, 0);  // the stalled pool did not take them all
}

}  // namespace
}  // namespace faults
