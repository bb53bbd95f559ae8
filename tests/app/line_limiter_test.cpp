// The limiter on lines a pool causes, with its clock and its output in the test's
// hands.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/console/line_limiter.h"

namespace {

struct Line {
  int at_ms;
  std::string text;
  bool fold = true;
};

// `before`, then lines "job 0" .. "job n-1" at one time, then `after`.
using Lines = std::vector<Line>;
Lines distinct(int n, int at_ms, Lines before = {}, const Lines& after = {}) {
  for (int i = 0; i < n; ++i) before.push_back({at_ms, "job " + std::to_string(i)});
  before.insert(before.end(), after.begin(), after.end());
  return before;
}

using Texts = std::vector<std::string>;
Texts jobs(int n, Texts before = {}, const Texts& after = {}) {
  for (const Line& l : distinct(n, 0)) before.push_back(l.text);
  before.insert(before.end(), after.begin(), after.end());
  return before;
}

TEST(LineLimiter, FoldsRepeatsAndKeepsToABudgetOfTwentyThenTwoASecond) {
  const struct {
    const char* name;
    std::vector<Line> in;
    std::vector<std::string> out;
  } cases[] = {
      {"a repeat is counted and its count shown before the next line",
       {{0, "a"}, {100, "a"}, {200, "a"}, {300, "b"}},
       {"a", "a (repeated 2 times)", "b"}},
      {"a line repeated forever shows its count every 10 s",
       {{0, "a"}, {1000, "a"}, {9999, "a"}, {10000, "a"}, {11000, "a"}},
       {"a", "a (repeated 3 times)"}},
      {"a repeat followed by silence is shown by the first tick 10 s after the line",
       {{0, "a"}, {1000, "a"}, {9999, "<tick>"}, {10000, "<tick>"}, {11000, "<tick>"}},
       {"a", "a (repeated 1 time)"}},
      {"lines that come only when something changed are never folded", {{0, "a", false}, {1, "a", false}}, {"a", "a"}},
      {"twenty at once, then the rest is counted until the budget allows one more",
       distinct(25, 0, {}, {{499, "late"}, {600, "later"}}),
       jobs(20, {}, {"6 more lines from the pool not shown", "later"})},
      {"the budget refills at two lines a second up to twenty",
       distinct(21, 60000, distinct(3, 1000, distinct(20, 0))),
       jobs(20, jobs(2, jobs(20), {"1 more lines from the pool not shown"}))},
  };
  for (const auto& c : cases) {
    std::vector<std::string> shown;
    tlm::LineLimiter limiter([&](const char*, const std::string& text) { shown.push_back(text); });
    const auto t0 = tlm::LineLimiter::Clock::time_point{} + std::chrono::hours(1);
    for (const Line& l : c.in) {
      const auto at = t0 + std::chrono::milliseconds(l.at_ms);
      l.text == "<tick>" ? limiter.tick(at) : limiter.log("", l.text, l.fold, at);
    }
    EXPECT_EQ(shown, c.out) << c.name;
  }
}

}  // namespace
