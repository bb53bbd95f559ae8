// Log lines, number formats, event lines and the banner's colour rules, and texts
// from the pool in a form that cannot drive the terminal. The process-level tests
// read the plain log lines and see the control characters a pool sends escaped.
#include <gtest/gtest.h>

#include <string>

#include "app/console/event_lines.h"
#include "app/console/formats.h"
#include "app/console/log.h"
#include "app/console/printable.h"
#include "tests/support/process.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace tlm;

TEST(Console, ColouredLinesEvenWhenRedirectedAndCutAt1023Bytes) {
  g_color = true;
  const std::string out = testing_support::log_of([] {
    log_line(kBad, "%s", "stopping");
    log_line(kStrong, "%s", std::string(3000, 'a').c_str());
  });
  const std::string stamp = std::string(kMuted) + "[T]" + kReset + " ";
  EXPECT_EQ(out, stamp + kBad + "stopping" + kReset + "\n" + stamp + kStrong + std::string(1023, 'a') + kReset + "\n");
}

TEST(Console, RateAndDifficultyUnits) {
  const struct {
    double value;
    const char* rate;
    const char* difficulty;
  } cases[] = {
      {0, "0 H/s", "0.00"},
      {999.6, "1000 H/s", "999.60"},
      {1000, "1.00 kH/s", "1.00k"},
      {3456789, "3.46 MH/s", "3.46M"},
      {999999999.9, "1000.00 MH/s", "1000.00M"},
      {1e9, "1.00 GH/s", "1.00G"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(fmt_rate(c.value), c.rate) << c.value;
    EXPECT_EQ(fmt_diff(c.value), c.difficulty) << c.value;
  }
  EXPECT_EQ(fmt_uptime(0.9), "0:00:00");
  EXPECT_EQ(fmt_uptime(7384.9), "2:03:04");
  EXPECT_EQ(fmt_uptime(360000), "100:00:00");
}

// A new job is named when its id is new and the pool says to start afresh;
// otherwise only a change of difficulty is worth a line. Texts from the pool can
// never drive the terminal.
TEST(EventLines, JobsSharesAndPoolTexts) {
  g_color = false;
  JobReporter jobs;
  const std::string out = testing_support::log_of([&] {
    jobs.report("j1", false, 1500);  // the first always shows
    jobs.report("j1", true, 1500);
    jobs.report("j2", true, 1500);
    jobs.report("j3", false, 1500);
    jobs.report("j3", false, 3000);
    jobs.report("j3\x1b", true, 3000);
    report_pool_message("login refused by the pool: bad\x1b[31mwallet\nnext\x7f");
    report_share_result({false, "no\x07way\xff", {}}, {.accepted = 3, .rejected = 1});
    report_share_result({true, "", std::chrono::milliseconds(38)}, {.accepted = 4, .rejected = 1});
    log_line(kStrong, "%s",
             exit_summary(7384.9, 1493021, 2210, {2209, 2205, 3, 0, 1, 1}).c_str());  // sent, accepted, ...
  });
  g_color = true;
  EXPECT_EQ(out, "[T] share difficulty 1.50k\n[T] new job j2 · share difficulty 1.50k\n[T] share difficulty 3.00k\n"
                 "[T] new job j3\\x1B · share difficulty 3.00k\n"
                 "[T] login refused by the pool: bad\\x1B[31mwallet\\x0Anext\\x7F\n"
                 "[T] share rejected · 3/4: no\\x07way\\xFF\n[T] share accepted · 4/5 · 38 ms\n"
                 "[T] uptime 2:03:04 · average 1.49 MH/s · shares found 2210 · sent 2209 · accepted 2205 · "
                 "rejected 3 · unanswered 0 · in flight 1 · dropped 1\n");
}

TEST(Console, BannerColouredOnATerminalUnlessNoColorOrTermDumbAndWhenForced) {
  const auto coloured = [](std::string env, bool terminal, const char* more = "--help") {
    return testing_support::run({{TLM_MINER_BINARY, "--help", more}, {"TERM=xterm", env}, terminal}).out.find('\033') !=
           std::string::npos;
  };
  EXPECT_TRUE(coloured("-NO_COLOR", true));
  EXPECT_TRUE(coloured("NO_COLOR=", true));
  EXPECT_FALSE(coloured("NO_COLOR=1", true));
  EXPECT_FALSE(coloured("-NO_COLOR", true, "--no-color"));
  EXPECT_FALSE(coloured("-NO_COLOR", false));
  EXPECT_FALSE(coloured("TERM=dumb", true));
  EXPECT_TRUE(coloured("NO_COLOR=1", false, "--color"));
}

TEST(PoolText, ValidUtf8PassesAndC1ControlsAndInvalidUtf8AreShownAsHex) {
  const std::pair<std::string, std::string> cases[] = {
      {"job-42 \"grün\" \\ 日本 😀 ~", "job-42 \"grün\" \\ 日本 😀 ~"},
      {"\xC2\xA0", "\xC2\xA0"},                              // U+00A0, the first code point after C1
      {"\xC2\x9B" "2J", "\\xC2\\x9B2J"},                     // CSI (U+009B)
      {"\xE0\x80\xAF", "\\xE0\\x80\\xAF"},                   // overlong
      {"\xF0\x8F\xBF\xBF", "\\xF0\\x8F\\xBF\\xBF"},          // overlong
      {"\xED\xA0\x80", "\\xED\\xA0\\x80"},                   // surrogate
      {"\xF4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},          // above U+10FFFF
      {"ok\xE6\x97", "ok\\xE6\\x97"},                        // cut at the end
      {"\xE6\x97" "A", "\\xE6\\x97A"},                       // a third byte that does not continue
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(printable(text), shown);
}

}  // namespace
