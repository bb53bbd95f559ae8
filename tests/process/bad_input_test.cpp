// What a pool can send that a miner must survive: junk lines, jobs that break a
// rule, a line with no end, refusals with hostile reasons.
#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>

#include "tests/process/session.h"

namespace faults {
namespace {

// Junk includes replies with ids no request has (strings, negative, fractional,
// huge, repeated answers): the share counts stay exact.
TEST(BadInput, JunkLinesAndBrokenJobsInPiecesAreDroppedWhileMiningGoesOn) {
  Pool pool({"--difficulty", share_difficulty(), "--job-interval", "2", "--garbage", "--bad-jobs", "--split-writes",
             "--stray-replies"});
  ASSERT_NE(pool.port(), 0);
  Miner miner(pool.port());
  // The pool's own log tells that mining went on to a later job: the miner's "new
  // job" lines share the budget for pool lines with the junk's.
  ASSERT_TRUE(miner.until(
      [&] { return miner.count("share accepted") >= 3 && pool.count("share accepted") > pool.count("job \"1\" hash"); },
      60000, &pool))
      << miner.log_text() << "pool:\n" << pool.log_text();
  EXPECT_EQ(miner.stop(SIGINT), 0);

  // Each job comes with ten copies that break one rule each (and one with too few
  // parameters, dropped silently): they are reported (how often depends on the
  // budget for pool lines, spent faster in the slower sanitizer builds) and never
  // mined.
  EXPECT_GT(miner.count("invalid job from the pool"), 0u);
  EXPECT_EQ(miner.count("new job bad-"), 0u);
  // The junk is only counted, and replies to nothing are ignored.
  const char* const kExpected[] = {"pool ",        "cpu ",           "connected to ",  "authorized",    "new job ",
                                   "share found",  "share accepted", "invalid job from the pool",
                                   "speed 10s ",   "ignored ",       "uptime ",       "stopping",
                                   "1 line from the pool could not be read", "invalid target from the pool"};
  for (const LogLine& l : miner.log()) {
    // "N more lines from the pool not shown": the budget for pool lines, spent
    // faster in the slower sanitizer builds.
    bool known = std::isdigit(static_cast<unsigned char>(l.text[0])) &&
                 l.text.find(" more lines from the pool not shown") != std::string::npos;
    for (const char* e : kExpected) known |= l.text.rfind(e, 0) == 0;
    EXPECT_TRUE(known) << l.text;
  }
  EXPECT_EQ(miner.count("connected to "), 1u);
  EXPECT_EQ(miner.count("ignored "), 1u);  // once a minute at most
  expect_no_share_lost(miner, pool);
}

TEST(BadInput, RefusedLoginAndRejectedSharesAreLoggedWithControlCharactersEscaped) {
  {
    // What the miner does next (it waits for a job, then backs off) is in the pool
    // client's own tests.
    Pool pool({"--refuse-login", "bad\x1b[31mwallet\nnext\x7f"});
    Miner miner(pool.port());
    ASSERT_TRUE(miner.until_count("login refused", 1, 30000, &pool)) << miner.log_text();
    EXPECT_EQ(miner.log()[static_cast<size_t>(miner.last_index("login refused"))].text,
              "login refused by the pool: bad\\x1B[31mwallet\\x0Anext\\x7F");
    EXPECT_EQ(miner.stop(SIGINT), 0);
  }
  {
    Pool pool({"--difficulty", share_difficulty(), "--reject-reason", "no\x07way\x1b[2J\xff"});
    Miner miner(pool.port());
    ASSERT_TRUE(miner.until_count("share rejected", 3, 60000, &pool)) << miner.log_text();
    EXPECT_EQ(miner.stop(SIGTERM), 0);
    for (const LogLine& l : miner.log()) {
      if (l.text.rfind("share rejected", 0) == 0) {
        EXPECT_EQ(l.text, "share rejected: no\\x07way\\x1B[2J\\xFF");
      }
    }
    const std::string summary = pool.stop_and_summarize();
    const ExitCounts c = expect_exit_summary_adds_up(miner);
    EXPECT_EQ(number_after(summary, "\"rejected\":"), c.found) << summary;
    EXPECT_EQ(number_after(summary, "\"accepted\":"), 0) << summary;
    EXPECT_EQ(c.rejected, c.found);
  }
}

}  // namespace
}  // namespace faults
