// The real executable mining against the local test pool on loopback: what the user
// sees from start-up to Ctrl-C, checked against what the pool received.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child.h"

namespace {

using testing_support::Child;

// Sanitizer builds hash many times slower; the pool's difficulty keeps a share
// every second or two either way.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const char* const kDifficulty = "5000";
#else
const char* const kDifficulty = "50000";
#endif

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Log message without its time stamp: "[YYYY-mm-dd HH:MM:SS] " is 22 bytes.
std::string message(const std::string& line) {
  static const std::regex kStamped(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] (.*))");
  std::smatch m;
  return std::regex_match(line, m, kStamped) ? m[1].str() : std::string();
}

class MiningSession : public testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/tlm-session-XXXXXX";
    dir_ = mkdtemp(templ);
    summary_ = dir_ + "/summary.json";
    pool_ = std::make_unique<Child>(std::vector<std::string>{TLM_TESTPOOL_BINARY, "--port", "0", "--difficulty",
                                                             kDifficulty, "--summary", summary_, "--seconds", "120"});
    std::string line;
    ASSERT_TRUE(pool_->read_line(line, 10000)) << "the test pool printed no port";
    std::smatch m;
    ASSERT_TRUE(std::regex_search(line, m, std::regex(R"((\d+)\s*$)"))) << line;
    port_ = m[1];
  }
  void TearDown() override {
    if (pool_) pool_->signal(SIGTERM), pool_->wait(5000);
    std::system(("rm -rf " + dir_).c_str());
  }

  std::unique_ptr<Child> start_miner(std::vector<std::string> extra) {
    std::vector<std::string> argv{TLM_MINER_BINARY, "-o", "127.0.0.1:" + port_, "-u", "RTestWalletForTheLocalPool01",
                                  "--no-color"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<Child>(argv);
  }

  // Stops the pool and returns its summary.
  std::string pool_summary() {
    pool_->signal(SIGTERM);
    EXPECT_EQ(pool_->wait(10000), 0);
    pool_.reset();
    return read_file(summary_);
  }

  std::string dir_, summary_, port_;
  std::unique_ptr<Child> pool_;
};

// One run of about 35 s covers everything up to the first speed report.
TEST_F(MiningSession, MinesSharesReportsSpeedAndStopsOnSigint) {
  const std::string stats = dir_ + "/stats.json";
  auto miner = start_miner({"-t", "2", "--stats-file", stats});
  const std::regex kStatsLine(R"(\{"hashrate_hs":\d+,"accepted":\d+,"rejected":0,"uptime_s":\d+,"threads":2,)"
                              R"("version":"1\.1\.0","algo":"verushash"\}\n)");
  std::vector<std::string> log;
  int stats_reads = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(50);
  std::string line;
  bool reported = false;
  while (!reported && std::chrono::steady_clock::now() < deadline) {
    if (miner->read_line(line, 100) && !message(line).empty()) {
      log.push_back(message(line));
      reported = log.back().rfind("speed 10s ", 0) == 0;
    }
    // Whoever reads the file sees a whole line, never a partial one.
    const std::string content = read_file(stats);
    if (!content.empty()) {
      ++stats_reads;
      ASSERT_TRUE(std::regex_match(content, kStatsLine)) << content;
    }
  }
  ASSERT_TRUE(reported) << "no speed report";
  EXPECT_GT(stats_reads, 0);

  miner->signal(SIGINT);
  EXPECT_EQ(miner->wait(10000), 0);
  while (miner->read_line(line, 1000)) log.push_back(message(line));  // no banner left to skip
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), "stopping");

  // Start-up lines in order, then the first job and shares.
  std::vector<std::string> start(log.begin(), log.begin() + std::min<size_t>(log.size(), 4));
  ASSERT_EQ(start.size(), 4u);
  // The kernel depends on the processor: the widest one it runs.
  EXPECT_TRUE(std::regex_match(start[1], std::regex("kernel [a-z0-9.]+(; .*)? · 32 lanes"))) << start[1];
  start.erase(start.begin() + 1);
  EXPECT_EQ(start, (std::vector<std::string>{
                       "pool 127.0.0.1:" + port_ + " · user RTestWalletForTheLocalPool01 · 2 threads · 1% dev fee",
                       "connected to 127.0.0.1:" + port_, "authorized"}));
  int found = 0, accepted = 0, jobs = 0;
  const std::regex kNewJob(R"(new job \S+ · share difficulty \d+\.\d\d[kMG]?)");
  const std::regex kFound(R"(share found · difficulty \d+\.\d\d[kMG]?)");
  const std::regex kSpeed(R"(speed 10s \d+(\.\d\d)? [kMG]?H/s · 60s .* · 15m .* · accepted \d+ · rejected 0)");
  for (const std::string& m : log) {
    if (std::regex_match(m, kNewJob)) ++jobs;
    if (std::regex_match(m, kFound)) ++found;
    if (m.rfind("share accepted · ", 0) == 0) {
      ++accepted;
      const std::string n = std::to_string(accepted);
      EXPECT_TRUE(std::regex_match(m, std::regex("share accepted · " + n + "/" + n + R"( · \d+ ms)"))) << m;
    }
    EXPECT_EQ(m.find("share rejected"), std::string::npos) << m;
  }
  EXPECT_GE(jobs, 1);
  EXPECT_GE(found, 3);
  EXPECT_GE(accepted, 3);
  EXPECT_LE(accepted, found);
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [&](const std::string& m) { return std::regex_match(m, kSpeed); }), 1);

  // Every share the miner reported found reached the pool and was accepted.
  const std::string summary = pool_summary();
  std::smatch m;
  ASSERT_TRUE(std::regex_search(summary, m, std::regex(R"("accepted":(\d+))"))) << summary;
  EXPECT_EQ(std::stoi(m[1]), found) << summary;
  ASSERT_TRUE(std::regex_search(summary, m, std::regex(R"("rejected":(\d+))"))) << summary;
  EXPECT_EQ(std::stoi(m[1]), 0) << summary;
}

}  // namespace
