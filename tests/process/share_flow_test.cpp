// Shares on their way to pools that behave like real ones: one that retargets
// all the time, one that stops reading. None is sent twice, none is lost without
// a word, and the miner never waits for the pool (the stop during a stall is
// among the signal tests).
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

// The pool reads nothing for 10 s but keeps sending: mining goes on, the shares
// wait (beyond the socket's 64 KiB, in the miner's queue), and once the pool reads
// again they all arrive. A few shares a second keep them well under the queue's
// bound even on a machine several times faster.
TEST(ShareFlow, SharesFoundWhileThePoolStopsReadingArriveAfterwards) {
  Pool pool({"--difficulty", kSanitized ? "3000" : "12000", "--retarget-interval", "0.5", "--stall-after", "3",
             "--stall-for", "10"});
  Miner miner(pool.port(), {"-t", "2"});
  size_t at_stall = 0;  // one more than the shares found when the stall began
  ASSERT_TRUE(miner.until(
      [&] {
        if (at_stall == 0 && pool.count("stalled") > 0) at_stall = miner.count("share found") + 1;
        return pool.count("reading again") > 0;
      },
      60000, &pool))
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

}  // namespace
}  // namespace faults
