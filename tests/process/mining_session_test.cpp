// The miner as a user runs it against the local test pool: what it shows from
// start-up to Ctrl-C against what the pool received, and what the keyboard and
// the monitoring API show of it.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"
#include "tests/support/text_match.h"

namespace faults {
namespace {

using testing_support::http_exchange;
using testing_support::http_status;

const std::string kToken = "Authorization: Bearer test-token\r\n";

// One run up to the first speed report (30 s).
TEST(MiningSession, MinesSharesReportsSpeedAndStopsOnSigint) {
  TempDir dir;
  const std::string stats = dir.path + "/stats.json";
  Pool pool({"--difficulty", share_difficulty()});
  Miner miner(pool.port(), {"-t", "2", "--stats-file", stats});
  const std::string kStatsLine(R"(^\{"hashrate_hs":\d+,"accepted":\d+,"rejected":0,"uptime_s":\d+,"threads":2,)"
                              R"("version":"1\.1\.0","algo":"verushash"\}\n$)");
  int stats_reads = 0;
  const bool reported = miner.until(
      [&] {
        // Whoever reads the file sees a whole line, never a partial one.
        const std::string content = read_file(stats);
        if (!content.empty()) {
          ++stats_reads;
          EXPECT_TRUE(testing_support::search(content, kStatsLine)) << content;
        }
        return miner.count("speed 10s ") > 0;
      },
      50000, &pool);
  ASSERT_TRUE(reported) << miner.log_text();
  EXPECT_GT(stats_reads, 0);
  EXPECT_EQ(miner.stop(SIGINT), 0);

  // Start-up lines in order; the kernel is the widest this processor runs. The
  // lane count is measured meanwhile, and chosen before the first share.
  const std::string kCalibrated(R"(^(kernel \S+ · )?lanes (16|32|48|64) \(measured .+ [kM]?H/s\)$)");
  std::vector<std::string> start;
  for (size_t i = 0; start.size() < 4 && i < miner.log().size(); ++i) {
    if (!testing_support::search(miner.log()[i], kCalibrated)) start.push_back(miner.log()[i]);
  }
  ASSERT_EQ(start.size(), 4u);
  EXPECT_TRUE(testing_support::search(start[1], "^cpu .+ · kernel [a-z0-9.]+(; .*)? · auto lanes · 2 threads$"))
      << start[1];
  start.erase(start.begin() + 1);
  const std::string where = "127.0.0.1:" + std::to_string(pool.port());
  EXPECT_EQ(start, (std::vector<std::string>{"pool " + where + " · user RFaultTestWallet · 2 threads · 1% dev fee",
                                             "connected to " + where, "authorized"}));
  EXPECT_GE(miner.count("new job "), 1u);
  EXPECT_GE(miner.count("share found · difficulty "), 3u);
  EXPECT_EQ(miner.count("speed 10s "), 1u);
  size_t calibrated = 0, found = 0;
  for (const std::string& line : miner.log()) {
    calibrated += testing_support::search(line, kCalibrated);
    found += line.rfind("share found", 0) == 0;
    EXPECT_TRUE(found == 0 || calibrated == 1) << "a share before the lanes were chosen";
  }
  EXPECT_EQ(calibrated, 1u);
  expect_no_share_lost(miner, pool);
}

// The miner in a terminal with the API beyond loopback, set up by a config
// file: the keys, the API's figures against the log, and the terminal restored.
TEST(MiningSession, KeysAndApiShowWhatTheLogShows) {
  TempDir dir;
  const std::string config = dir.path + "/config.json";
  std::ofstream(config) << R"({"api": "0.0.0.0:0", "api-token": "test-token", "wallet": "RFileWallet", "lanes": 48})";
  Pool pool({"--difficulty", share_difficulty()});
  Miner miner(pool.port(), {"--config", config}, "127.0.0.1", true);
  ASSERT_TRUE(miner.until_count("keys: h thread rates", 1, 60000, &pool)) << miner.log_text();
  const auto port = static_cast<uint16_t>(number_after(miner.log_text(), "api listening on 0.0.0.0:"));
  // The command line's wallet wins over the file's; the file's lane count is used
  // without measuring.
  EXPECT_EQ(miner.count("pool 127.0.0.1:" + std::to_string(pool.port()) + " · user RFaultTestWallet · 1 thread"), 1u);
  EXPECT_TRUE(testing_support::search(miner.log_text(), "\ncpu .+ · 48 lanes · 1 thread\n")) << miner.log_text();
  // Bound beyond loopback: nothing without the token.
  EXPECT_EQ(http_status(http_exchange(port, "GET /summary HTTP/1.1\r\n\r\n")), 401);

  ASSERT_TRUE(miner.until_count("share accepted", 1, 60000, &pool));
  miner.press('p');
  ASSERT_TRUE(miner.until_count("paused", 1, 10000, &pool));
  // Paused, the share counts settle: two snapshots a second apart agree.
  const std::string shares_object(R"("shares":\{[^}]*\})");
  std::string summary, shares, previous;
  for (int i = 0; i < 30 && (shares.empty() || shares != previous); ++i) {
    previous = shares;
    miner.until([] { return false; }, 1100, &pool);
    summary = http_exchange(port, "GET /summary HTTP/1.1\r\n" + kToken + "\r\n");
    std::vector<std::string> m;
    shares = testing_support::search(summary, shares_object, &m) ? m[0] : "";
  }
  ASSERT_EQ(shares, previous) << "the share counts never settled";
  const long accepted = static_cast<long>(miner.count("share accepted"));
  EXPECT_EQ(number_after(summary, "\"accepted\":"), accepted) << summary;
  EXPECT_EQ(number_after(summary, "\"lanes\":"), 48) << summary;
  EXPECT_EQ(miner.log_text().find("(measured"), std::string::npos) << "measured although the lane count was given";
  const std::string metrics = http_exchange(port, "GET /metrics HTTP/1.1\r\n" + kToken + "\r\n");
  EXPECT_EQ(number_after(metrics, "\ntlm_shares_accepted_total "), accepted) << metrics;

  miner.press('s');
  ASSERT_TRUE(miner.until_count("shares found", 1, 10000, &pool));
  const std::string shown = miner.log()[static_cast<size_t>(miner.last_index("shares found"))];
  for (const char* key : {"found", "accepted", "rejected", "unanswered", "dropped"})
    EXPECT_EQ(number_after(shown, std::string(" ") + key + " "), number_after(shares, std::string("\"") + key))
        << shown << " against " << shares;
  miner.press('h');
  EXPECT_TRUE(miner.until_count("threads 10s · #0 ", 1, 10000, &pool));
  miner.press('r');
  EXPECT_TRUE(miner.until_count("resumed", 1, 10000, &pool));

  EXPECT_EQ(miner.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace faults
