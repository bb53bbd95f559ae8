// The log lines of the new-job, share-result, share-found and pool-message handlers.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/handlers.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace ilvo;
using testing_support::StdoutCapture;

// Messages of the captured plain log lines, without their time stamps.
std::vector<std::string> messages(const std::string& out) {
  std::vector<std::string> result;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) result.push_back(line.size() > 22 ? line.substr(22) : line);
  return result;
}

class Handlers : public testing::Test {
 protected:
  void SetUp() override { g_color = false; }
  void TearDown() override { g_color = true; }
};

TEST_F(Handlers, NewJobNeedsNewIdAndCleanFlagOtherwiseOnlyDifficultyChanges) {
  StdoutCapture capture;
  JobReporter jobs;
  jobs.report("a1", false, 2.0);     // first job, not clean: still logged, as a difficulty
  jobs.report("a1", true, 2.0);      // same id, same difficulty: nothing
  jobs.report("b2", true, 2.0);      // new id, clean: new job
  jobs.report("c3", false, 2.0);     // new id, not clean, same difficulty: nothing
  jobs.report("c3", true, 1500.0);   // same id, new difficulty
  jobs.report("d4", true, 0.0);      // all-zero target
  jobs.report("d4", false, NAN);     // NaN always counts as changed
  jobs.report("d4", false, NAN);
  EXPECT_EQ(messages(capture.text()),
            (std::vector<std::string>{"share difficulty 2.00", "new job b2 · share difficulty 2.00",
                                      "share difficulty 1.50k", "new job d4 · share difficulty 0.00",
                                      "share difficulty nan", "share difficulty nan"}));
}

TEST_F(Handlers, ShareLinesAndTheExitSummary) {
  StdoutCapture capture;
  tlm::ShareCounts counts{12, 11, 1, 0, 0, 0};
  report_share_result({true, "", std::chrono::milliseconds(38)}, counts);
  report_share_result({false, "low difficulty share", {}}, counts);
  report_share_result({false, "", {}}, counts);
  report_share_found(1234567.0);
  report_exit_summary(3723.9, 1.5e6, 14, {12, 9, 1, 1, 1, 2});
  EXPECT_EQ(messages(capture.text()),
            (std::vector<std::string>{"share accepted · 11/12 · 38 ms", "share rejected: low difficulty share",
                                      "share rejected", "share found · difficulty 1.23M",
                                      "uptime 1:02:03 · average 1.50 MH/s · shares found 14 · sent 12 · accepted 9 · "
                                      "rejected 1 · unanswered 1 · in flight 1 · dropped 2"}));
}

TEST_F(Handlers, PoolTextsCannotDriveTheTerminal) {
  StdoutCapture capture;
  JobReporter jobs;
  jobs.report("j\x1b[2J", true, 1.0);
  report_share_result({false, "bad\x1b]0;title\x07", {}}, {});
  report_pool_message("login refused by the pool: \xC2\x9B" "31m");
  const std::string out = capture.text();
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  EXPECT_EQ(messages(out), (std::vector<std::string>{"new job j\\x1B[2J · share difficulty 1.00",
                                                      "share rejected: bad\\x1B]0;title\\x07",
                                                      "login refused by the pool: \\xC2\\x9B31m"}));
}

}  // namespace
