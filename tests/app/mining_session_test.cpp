// The real executable mining against the local test pool on loopback: what the user
// sees from start-up to Ctrl-C, checked against what the pool received, and what
// the keyboard and the monitoring API show of it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/loopback_server.h"

namespace {

using testing_support::Child;
using testing_support::http_exchange;
using testing_support::http_status;

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

// The first number after `key` in `text`, -1 when there is none.
long long number_after(const std::string& text, const std::string& key) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(key + R"([^0-9]*(\d+))")) ? std::stoll(m[1]) : -1;
}

std::string body(const std::string& reply) {
  const size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? "" : reply.substr(end + 4);
}

const std::string kToken = "Authorization: Bearer test-token\r\n";
const tcflag_t kLineMode = ICANON | ECHO;

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

  // In a terminal when `terminal` is set (see Child).
  std::unique_ptr<Child> start_miner(std::vector<std::string> extra, bool terminal = false) {
    std::vector<std::string> argv{TLM_MINER_BINARY, "-o", "127.0.0.1:" + port_, "-u", "RTestWalletForTheLocalPool01",
                                  "--no-color"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<Child>(argv, terminal);
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
  EXPECT_TRUE(std::regex_match(start[1], std::regex("cpu .+ · kernel [a-z0-9.]+(; .*)? · 32 lanes · 2 threads")))
      << start[1];
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

// The miner in a terminal with the API beyond loopback, set up by a config
// file: the keys, the API's figures against the log, and the terminal restored.
TEST_F(MiningSession, KeysAndApiShowWhatTheLogShows) {
  const std::string config = dir_ + "/config.json";
  FILE* f = fopen(config.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(R"({"api": "0.0.0.0:0", "api-token": "test-token", "wallet": "RFileWallet", "no-color": true})", f);
  fclose(f);
  auto miner = start_miner({"-t", "1", "--config", config}, true);
  std::vector<std::string> log;
  ASSERT_TRUE(miner->wait_for("api listening on 0.0.0.0:", 60000, &log));
  const auto port = static_cast<uint16_t>(number_after(log.back(), "0.0.0.0:"));
  // The command line's wallet wins over the file's.
  EXPECT_NE(log[log.size() - 3].find("user RTestWalletForTheLocalPool01 · 1 threads"), std::string::npos);
  ASSERT_TRUE(miner->wait_for("keys: h thread rates", 10000, &log));
  // Bound beyond loopback: nothing without the token.
  EXPECT_EQ(http_status(http_exchange(port, "GET /summary HTTP/1.1\r\n\r\n")), 401);

  ASSERT_TRUE(miner->wait_for("share accepted", 60000, &log));
  miner->press('p');
  ASSERT_TRUE(miner->wait_for("paused", 10000, &log));
  // Paused, the share counts settle: two snapshots a second apart agree.
  const std::regex shares_object(R"("shares":\{[^}]*\})");
  std::string summary, shares, previous;
  for (int i = 0; i < 30 && (shares.empty() || shares != previous); ++i) {
    previous = shares;
    std::string line;
    while (miner->read_line(line, 1100)) log.push_back(line);
    summary = body(http_exchange(port, "GET /summary HTTP/1.1\r\n" + kToken + "\r\n"));
    std::smatch m;
    shares = std::regex_search(summary, m, shares_object) ? m[0].str() : "";
  }
  ASSERT_EQ(shares, previous) << "the share counts never settled";
  long long accepted_logged = 0;
  for (const std::string& line : log)
    if (line.find("share accepted · ") != std::string::npos) accepted_logged = number_after(line, "share accepted · ");
  EXPECT_EQ(number_after(summary, "\"accepted\":"), accepted_logged) << summary;
  const std::string metrics = body(http_exchange(port, "GET /metrics HTTP/1.1\r\n" + kToken + "\r\n"));
  EXPECT_EQ(number_after(metrics, "\ntlm_shares_accepted_total "), accepted_logged) << metrics;

  miner->press('s');
  std::vector<std::string> shown;
  ASSERT_TRUE(miner->wait_for("shares found", 10000, &shown));
  for (const char* key : {"found", "accepted", "rejected", "unanswered", "dropped"})
    EXPECT_EQ(number_after(shown.back(), std::string(" ") + key + " "), number_after(shares, std::string("\"") + key))
        << shown.back() << " against " << shares;
  miner->press('h');
  EXPECT_TRUE(miner->wait_for("threads 10s · #0 ", 10000));
  miner->press('r');
  EXPECT_TRUE(miner->wait_for("resumed", 10000));

  // An oversized and a slow request are closed; the API serves on.
  const std::string big = "GET /summary HTTP/1.1\r\n" + kToken + "X: " + std::string(20000, 'x') + "\r\n\r\n";
  EXPECT_EQ(http_status(http_exchange(port, big)), 400);
  bool closed = false;
  http_exchange(port, "GET /summary HTTP/1.1\r\n", &closed);
  EXPECT_TRUE(closed) << "a slow request is never closed";
  EXPECT_EQ(http_status(http_exchange(port, "GET /metrics HTTP/1.1\r\n" + kToken + "\r\n")), 200);

  miner->signal(SIGTERM);
  EXPECT_EQ(miner->wait(20000), 0);
  EXPECT_EQ(miner->terminal_mode().c_lflag & kLineMode, kLineMode);
}

TEST_F(MiningSession, AFatalSignalRestoresTheTerminal) {
  const rlimit no_core{0, 0};  // SIGQUIT would leave a core file
  setrlimit(RLIMIT_CORE, &no_core);
  auto miner = start_miner({"-t", "1"}, true);
  ASSERT_TRUE(miner->wait_for("keys: h thread rates", 60000));
  EXPECT_EQ(miner->terminal_mode().c_lflag & kLineMode, 0u);
  miner->signal(SIGQUIT);
  miner->wait(20000);
  EXPECT_EQ(miner->terminal_mode().c_lflag & kLineMode, kLineMode);
}

}  // namespace
