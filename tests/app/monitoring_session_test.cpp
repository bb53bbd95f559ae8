// The real miner in a terminal against the local test pool: the keyboard
// commands, the monitoring API with figures that match the log, and the terminal
// left as it was found however the miner ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <termios.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child.h"
#include "tests/support/loopback_server.h"

namespace {

using testing_support::Child;
using testing_support::http_exchange;
using testing_support::http_status;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const char* const kDifficulty = "5000";
#else
const char* const kDifficulty = "50000";
#endif

const std::string kToken = "Authorization: Bearer test-token\r\n";

const tcflag_t kLineMode = ICANON | ECHO;

// The first number after `key` in `text`, -1 when there is none.
long long number_after(const std::string& text, const std::string& key) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(key + R"([^0-9]*(\d+))")) ? std::stoll(m[1]) : -1;
}

std::string body(const std::string& reply) {
  const size_t end = reply.find("\r\n\r\n");
  return end == std::string::npos ? "" : reply.substr(end + 4);
}

class MonitoringSession : public testing::Test {
 protected:
  void SetUp() override {
    pool_ = std::make_unique<Child>(std::vector<std::string>{TLM_TESTPOOL_BINARY, "--port", "0", "--difficulty",
                                                             kDifficulty, "--seconds", "120"});
    std::string line;
    ASSERT_TRUE(pool_->read_line(line, 10000)) << "the test pool printed no port";
    pool_port_ = std::to_string(number_after(line, ":"));
  }
  void TearDown() override {
    if (pool_) pool_->signal(SIGTERM), pool_->wait(5000);
  }

  // The miner in a terminal, its wallet on the command line overriding the one of
  // the config file given in `extra`, if any.
  std::unique_ptr<Child> start_miner(std::vector<std::string> extra) {
    std::vector<std::string> argv{TLM_MINER_BINARY, "-o", "127.0.0.1:" + pool_port_, "-u",
                                  "RTestWalletForTheLocalPool01", "--no-color", "-t", "1"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return std::make_unique<Child>(argv, true);
  }

  std::unique_ptr<Child> pool_;
  std::string pool_port_;
};

TEST_F(MonitoringSession, KeysAndApiShowWhatTheLogShows) {
  const std::string config = testing::TempDir() + "monitoring_session.json";
  FILE* f = fopen(config.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(R"({"api": "0.0.0.0:0", "api-token": "test-token", "wallet": "RFileWallet", "no-color": true})", f);
  fclose(f);
  auto miner = start_miner({"--config", config});
  std::vector<std::string> log;
  ASSERT_TRUE(miner->wait_for("api listening on 0.0.0.0:", 60000, &log));
  const auto port = static_cast<uint16_t>(number_after(log.back(), "0.0.0.0:"));
  // The command line's wallet wins over the file's; the start-up lines say so.
  const std::string start = log[log.size() - 3] + "\n" + log[log.size() - 2];
  EXPECT_TRUE(std::regex_search(start, std::regex("user RTestWalletForTheLocalPool01 · 1 threads.*\n.*cpu .+ · "
                                                  "kernel .+ · 32 lanes · 1 threads")))
      << start;
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
  remove(config.c_str());
}

TEST_F(MonitoringSession, AFatalSignalRestoresTheTerminal) {
  const rlimit no_core{0, 0};  // SIGQUIT would leave a core file
  setrlimit(RLIMIT_CORE, &no_core);
  auto miner = start_miner({});
  ASSERT_TRUE(miner->wait_for("keys: h thread rates", 60000));
  EXPECT_EQ(miner->terminal_mode().c_lflag & kLineMode, 0u);
  miner->signal(SIGQUIT);
  miner->wait(20000);
  EXPECT_EQ(miner->terminal_mode().c_lflag & kLineMode, kLineMode);
}

}  // namespace
