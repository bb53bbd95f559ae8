// The pool connection as people run it: a TLS pool with a pinned certificate, and
// a backup pool taken while the first one is down, and left when it is back.
#include <signal.h>

#include <gtest/gtest.h>

#include "tests/process/session.h"
#include "tests/support/loopback_server.h"

namespace faults {
namespace {

TEST(TlsPool, MinesWithThePinnedCertificateAndRefusesAnyOther) {
  std::vector<std::string> options = fixture_certificate_options();
  options.insert(options.end(), {"--difficulty", share_difficulty()});
  Pool pool(options);
  ASSERT_NE(pool.port(), 0) << pool.log_text();
  const std::string fingerprint = kCertificateSha256;
  const std::string where = "127.0.0.1:" + std::to_string(pool.port());

  // Refused before a line is sent, and tried again with the back-off. (An
  // unpinned self-signed certificate is refused in the messages' tests.)
  {
    Miner miner(pool.port(), {"--tls-fingerprint", std::string(64, 'a')}, "stratum+ssl://127.0.0.1");
    const std::string refused = "cannot connect to " + where + ": certificate fingerprint " + fingerprint +
                                " is not the pinned one, retrying in ";
    EXPECT_TRUE(miner.until_count(refused + "2 s", 1, 20000, &pool)) << miner.log_text();
    EXPECT_EQ(miner.count(refused + "1 s"), 1u);
    EXPECT_EQ(miner.count("connected to"), 0u);
    EXPECT_EQ(miner.stop(SIGTERM), 0);
  }

  Miner miner(pool.port(), {"--tls-fingerprint", fingerprint}, "stratum+tls://127.0.0.1");
  EXPECT_TRUE(miner.until_count("share accepted", 2, 60000, &pool)) << miner.log_text();
  EXPECT_EQ(miner.stop(SIGTERM), 0);
  pool.pump();
  EXPECT_EQ(pool.count("subscribe "), 1u) << pool.log_text();
  expect_no_share_lost(miner, pool);
}

// The first pool down: the miner mines on the backup. Once the first pool is up
// again and delivers jobs, mining goes back to it. (Why a pool is left, and when
// it is probed, are the pool switch's own tests.)
TEST(BackupPools, MinesOnTheBackupWhileTheFirstPoolIsDownAndGoesBack) {
  Pool backup({"--difficulty", share_difficulty(), "--job-interval", "1"});
  const uint16_t first_port = testing_support::LoopbackServer().port();  // nobody listens there, for a while
  const std::string first = "127.0.0.1:" + std::to_string(first_port),
                    second = "127.0.0.1:" + std::to_string(backup.port());
  Miner miner(first_port, {"--backup-pool", "stratum+tcp://" + second, "--probe-interval", "1"});
  ASSERT_TRUE(miner.until_count("switching from " + first + " to " + second + ": 3 connection attempts failed", 1,
                                30000))
      << miner.log_text();
  ASSERT_TRUE(miner.until([&] { return accepted_after_last(miner, "switching from"); }, 60000, &backup))
      << miner.log_text();
  Pool pool({"--port", std::to_string(first_port), "--difficulty", share_difficulty(), "--job-interval", "1"});
  const std::string back = "switching from " + second + " to " + first + ": the first pool delivers jobs again";
  ASSERT_TRUE(miner.until_count(back, 1, 30000, &pool)) << miner.log_text();
  EXPECT_TRUE(miner.until([&] { return accepted_after_last(miner, "switching from"); }, 60000, &pool))
      << miner.log_text();
  EXPECT_EQ(miner.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace faults
