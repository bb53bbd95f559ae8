// Hash-rate windows, the speed report and the statistics file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "app/console.h"
#include "app/statistics.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace ilvo;
using testing_support::StdoutCapture;

std::string read_file(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// A fresh directory under the test's temporary directory, removed afterwards.
class TempDir {
 public:
  TempDir() {
    char templ[] = "/tmp/tlm-stats-XXXXXX";
    path_ = mkdtemp(templ);
  }
  ~TempDir() { std::system(("rm -rf " + path_).c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(HashRate, WindowsReachBackToTheOldestSampleInside) {
  HashRate r;
  EXPECT_EQ(r.rate_over(10), 0.0);
  r.record(1.0, 0);
  EXPECT_EQ(r.rate_over(10), 0.0);  // one sample
  for (int t = 2; t <= 100; ++t) r.record(t, static_cast<uint64_t>(t - 1) * 1000);
  EXPECT_DOUBLE_EQ(r.rate_over(10), 1000.0);
  EXPECT_DOUBLE_EQ(r.rate_over(1000), 1000.0);
  // A window shorter than the gap between the two newest samples.
  r.record(103.0, 200000);
  EXPECT_EQ(r.rate_over(2.5), 0.0);
  // 10 s back from 103 reaches the sample at 93: (200000 - 92000) / 10.
  EXPECT_DOUBLE_EQ(r.rate_over(10), 10800.0);
}

TEST(HashRate, SamplesOlderThan900SecondsArePruned) {
  HashRate r;
  // 5 H/s for the first 300 s, then 1 H/s.
  for (int t = 0; t <= 1200; ++t) r.record(t, t <= 300 ? 5u * t : 1500u + (t - 300));
  EXPECT_EQ(r.size(), 901u);  // 300..1200: exactly 900 s is kept
  EXPECT_DOUBLE_EQ(r.rate_over(900), 1.0);
  r.record(1200.5, 2401);
  EXPECT_EQ(r.size(), 901u);
}

TEST(Statistics, ReportEvery30FileEvery10WithKeysInOrder) {
  TempDir dir;
  const std::string path = dir.path() + "/stats.json";
  Statistics stats(path, 3);
  g_color = false;
  StdoutCapture capture;
  for (int t = 1; t <= 9; ++t) stats.step(t, static_cast<uint64_t>(t) * 1500, 4, 1);
  EXPECT_FALSE(exists(path));
  stats.step(10, 15000, 4, 1);
  EXPECT_EQ(read_file(path),
            "{\"hashrate_hs\":1500,\"accepted\":4,\"rejected\":1,\"uptime_s\":10,\"threads\":3,"
            "\"version\":\"1.1.0\",\"algo\":\"verushash\"}\n");
  EXPECT_FALSE(exists(path + ".tmp"));
  for (int t = 11; t <= 30; ++t) stats.step(t + 0.4, static_cast<uint64_t>(t) * 1500, 7, 2);
  const std::string out = capture.text();
  g_color = true;
  EXPECT_TRUE(std::regex_match(read_file(path), std::regex(R"(\{"hashrate_hs":\d+,"accepted":7,"rejected":2,)"
                                                           R"("uptime_s":30,"threads":3,"version":"1.1.0",)"
                                                           R"("algo":"verushash"\}\n)")));
  EXPECT_TRUE(std::regex_match(out, std::regex(R"(\[[^\]]{19}\] speed 10s 1.\d\d kH/s · 60s 1.\d\d kH/s · )"
                                               R"(15m 1.\d\d kH/s · accepted 7 · rejected 2\n)")))
      << out;
}

TEST(Statistics, UnwritablePathIsReportedOnce) {
  TempDir dir;
  const std::string path = dir.path() + "/no/such/dir/stats.json";
  Statistics stats(path, 1);
  g_color = false;
  StdoutCapture capture;
  for (int t = 1; t <= 20; ++t) stats.step(t, 0, 0, 0);
  const std::string out = capture.text();
  g_color = true;
  EXPECT_TRUE(std::regex_match(
      out, std::regex(R"(\[[^\]]{19}\] cannot write the statistics file )" + path + R"(: No such file or directory\n)")))
      << out;
  EXPECT_FALSE(exists(path));
}

}  // namespace
