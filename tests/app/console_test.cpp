// Log lines, number formats and the banner's colour rules.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "app/console.h"
#include "tests/support/process.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace ilvo;

using testing_support::StdoutCapture;

class Console : public testing::Test {
 protected:
  void TearDown() override { g_color = true; }
};

TEST_F(Console, PlainLineIsStampSpaceText) {
  g_color = false;
  StdoutCapture capture;
  logf(kGood, "share accepted · %llu/%llu", 3ULL, 4ULL);
  std::string out = capture.text();
  EXPECT_TRUE(std::regex_match(out, std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] share accepted · 3/4\n)")))
      << out;
}

TEST_F(Console, ColouredLineEvenWhenRedirected) {
  StdoutCapture capture;
  logf(kBad, "%s", "stopping");
  std::string out = capture.text();
  ASSERT_EQ(out.size(), strlen(kMuted) + 21 + strlen(kReset) + 1 + strlen(kBad) + 8 + strlen(kReset) + 1);
  EXPECT_EQ(out.substr(0, strlen(kMuted) + 1), std::string(kMuted) + "[");
  EXPECT_EQ(out.substr(out.size() - 8 - strlen(kReset) - 1), std::string("stopping") + kReset + "\n");
}

TEST_F(Console, LongMessageIsCutTo1023Bytes) {
  StdoutCapture capture;
  logf(kStrong, "%s", std::string(3000, 'a').c_str());
  std::string out = capture.text();
  std::string tail = std::string(kStrong) + std::string(1023, 'a') + kReset + "\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST_F(Console, LinesFromManyThreadsNeverInterleave) {
  g_color = false;
  StdoutCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) logf(kMuted, "thread %d line %d %s", t, i, std::string(300, 'a' + t).c_str());
    });
  for (std::thread& t : threads) t.join();
  std::istringstream lines(capture.text());
  std::regex whole(R"(\[[^\]]{19}\] thread (\d) line \d+ ([a-h])\2{299})");
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
    EXPECT_EQ(m[2].str()[0], 'a' + (m[1].str()[0] - '0'));
  }
  EXPECT_EQ(count, 1600);
}

TEST(Format, RateUnits) {
  EXPECT_EQ(fmt_rate(0), "0 H/s");
  EXPECT_EQ(fmt_rate(999.6), "1000 H/s");
  EXPECT_EQ(fmt_rate(1000), "1.00 kH/s");
  EXPECT_EQ(fmt_rate(3456789), "3.46 MH/s");
  EXPECT_EQ(fmt_rate(1e9), "1.00 GH/s");
}

TEST(Format, DifficultyUnits) {
  EXPECT_EQ(fmt_diff(0), "0.00");
  EXPECT_EQ(fmt_diff(999.5), "999.50");
  EXPECT_EQ(fmt_diff(1000), "1.00k");
  EXPECT_EQ(fmt_diff(1234567), "1.23M");
  EXPECT_EQ(fmt_diff(999999999.9), "1000.00M");
  EXPECT_EQ(fmt_diff(2.5e9), "2.50G");
}

TEST(Banner, ColouredOnlyOnATerminalWithoutANonEmptyNoColor) {
  auto has_escape = [](const std::string& s) { return s.find('\033') != std::string::npos; };
  const auto help = [](std::string env, bool terminal, const char* more = "--help") {
    return testing_support::run({{TLM_MINER_BINARY, "--help", more}, {env}, terminal}).out;
  };
  EXPECT_TRUE(has_escape(help("-NO_COLOR", true)));
  EXPECT_TRUE(has_escape(help("NO_COLOR=", true)));
  EXPECT_FALSE(has_escape(help("NO_COLOR=1", true)));
  EXPECT_FALSE(has_escape(help("-NO_COLOR", true, "--no-color")));
  EXPECT_FALSE(has_escape(help("-NO_COLOR", false)));
}

}  // namespace
