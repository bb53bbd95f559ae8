// Hash-rate windows, each thread's rate, the speed report and the statistics
// file, where it may be written and where not. The process-level tests check the
// file's form as a reader sees it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/console/log.h"
#include "app/monitor/statistics.h"
#include "app/monitor/thread_rates.h"
#include "tests/support/process.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace tlm;

TEST(HashRate, WindowsReachBackToTheOldestSampleInsideAndKeep900Seconds) {
  HashRate r;
  r.record(1.0, 0);
  EXPECT_EQ(r.rate_over(10), 0.0);  // one sample
  for (int t = 2; t <= 100; ++t) r.record(t, static_cast<uint64_t>(t - 1) * 1000);
  EXPECT_DOUBLE_EQ(r.rate_over(1000), 1000.0);
  r.record(103.0, 200000);
  EXPECT_EQ(r.rate_over(2.5), 0.0);  // shorter than the gap between the two newest samples
  EXPECT_DOUBLE_EQ(r.rate_over(10), 10800.0);  // from the sample at 93: (200000 - 92000) / 10

  HashRate pruned;
  // 5 H/s for the first 300 s, then 1 H/s.
  for (int t = 0; t <= 1200; ++t) pruned.record(t, t <= 300 ? 5u * t : 1500u + (t - 300));
  EXPECT_EQ(pruned.size(), 901u);  // 300..1200: exactly 900 s is kept
  EXPECT_DOUBLE_EQ(pruned.rate_over(900), 1.0);
}

// Each thread's rate over the last 10 s, from totals a second apart: none before
// the second sample or when the thread count changed; older samples forgotten.
TEST(ThreadRates, EachThreadOverTheLastTenSeconds) {
  using Samples = std::vector<std::pair<double, std::vector<uint64_t>>>;
  const std::pair<Samples, std::vector<double>> cases[] = {
      {{}, {}},
      {{{1, {500, 700}}}, {0, 0}},
      {{{1, {0, 0}}, {3, {2000, 500}}}, {1000, 250}},
      {{{0, {0}}, {1, {100}}, {11, {1100}}, {12, {5100}}}, {4000}},
      {{{1, {0}}, {2, {10, 10}}}, {0, 0}},
  };
  for (const auto& [samples, rates] : cases) {
    ThreadRates r;
    for (const auto& [uptime, totals] : samples) r.record(uptime, totals);
    EXPECT_EQ(r.rates(), rates);
  }
}

TEST(Statistics, FileEvery10StepsReportEvery30AndAnUnwritablePathLoggedOnce) {
  const testing_support::TempDir temp;
  const std::string dir = temp.path, path = dir + "/stats.json";
  Statistics stats(path, 3), unwritable(dir + "/no/stats.json", 1);
  std::vector<std::string> file;  // after steps 9 and 10
  g_color = false;
  const std::string out = testing_support::log_of([&] {
    for (int t = 1; t <= 30; ++t) {
      stats.step(t, static_cast<uint64_t>(t) * 1500, t <= 10 ? 4 : 7, 2);
      unwritable.step(t, 0, 0, 0);
      if (t == 9 || t == 10) file.push_back(testing_support::read_file(path));
    }
  });
  g_color = true;
  EXPECT_EQ(file, (std::vector<std::string>{"", R"({"hashrate_hs":1500,"accepted":4,"rejected":2,"uptime_s":10,)"
                                                R"("threads":3,"version":"1.1.0","algo":"verushash"})" "\n"}));
  EXPECT_EQ(out, "[T] cannot write the statistics file " + dir + "/no/stats.json: No such file or directory\n"
                 "[T] speed 10s 1.50 kH/s · 60s 1.50 kH/s · 15m n/a · accepted 7 · rejected 2\n"
                 "[T] speed 10s 0 H/s · 60s 0 H/s · 15m n/a · accepted 0 · rejected 0\n");
}

// The path, or a name beside it, set up by someone else on the machine: a link, a
// FIFO, a directory or a device is never written through or into; a regular file,
// a hard link too, is replaced whole.
TEST(Statistics, FileNeverWritesThroughLinksOrIntoSpecialFiles) {
  const testing_support::TempDir temp;
  const std::string dir = temp.path, victim = dir + "/victim", plain = dir + "/plain.json";
  std::ofstream(victim) << "precious";
  ASSERT_EQ(symlink(victim.c_str(), (dir + "/link.json").c_str()), 0);
  ASSERT_EQ(link(victim.c_str(), (dir + "/hard.json").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo.json").c_str(), 0600), 0);
  ASSERT_EQ(mkdir((dir + "/dir.json").c_str(), 0700), 0);
  ASSERT_EQ(symlink(victim.c_str(), (plain + ".tmp").c_str()), 0);  // the old fixed temporary name
  const std::pair<std::string, mode_t> cases[] = {{dir + "/link.json", S_IFLNK}, {dir + "/fifo.json", S_IFIFO},
                                                  {dir + "/dir.json", S_IFDIR},  {"/dev/null", S_IFCHR},
                                                  {plain, S_IFREG},              {dir + "/hard.json", S_IFREG}};
  for (const auto& [path, type] : cases) {
    const std::string error = write_stats_file(path, 1, 2, 3, 4, 5);
    EXPECT_EQ(error, type == S_IFREG ? "" : "it is not a regular file") << path;
    struct stat st;
    EXPECT_TRUE(lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type) << path;
  }
  EXPECT_EQ(testing_support::read_file(victim), "precious");
  EXPECT_EQ(testing_support::read_file(plain).rfind("{\"hashrate_hs\":1,", 0), 0u);
  // Only what the test made is left: no temporary files.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 7);
}

}  // namespace
