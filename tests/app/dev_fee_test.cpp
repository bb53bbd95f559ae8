// The dev-fee cycle driven by uptime and the connection flag, without waiting for it.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/console.h"
#include "app/dev_fee.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace ilvo;
using testing_support::StdoutCapture;

const char* const kEnter = "dev fee: 1% contribution (1 min)";
const char* const kLeave = "dev fee done, back to your wallet";

class DevFeeCycle : public testing::Test {
 protected:
  void SetUp() override { g_color = false; }
  void TearDown() override { g_color = true; }

  // Runs one iteration per second from `from` and returns how many ran until the
  // fee period ended (or `limit`).
  int run_until_done(double from, int limit, bool (*connected)(int)) {
    for (int i = 1; i <= limit; ++i) {
      fee.step(from + i, connected(i));
      if (!fee.in_fee()) return i;
    }
    return limit;
  }

  std::vector<bool> switches;  // true: to the fee wallet
  DevFee fee{[this](bool to_fee) { switches.push_back(to_fee); }};
};

TEST_F(DevFeeCycle, StartsAt5940SecondsAndLogsBothSwitches) {
  StdoutCapture capture;
  fee.step(1.0, true);
  fee.step(5939.9, true);
  EXPECT_TRUE(switches.empty());
  fee.step(5940.0, true);
  EXPECT_EQ(switches, std::vector<bool>{true});
  // 60 connected iterations are counted, the switch back comes on the 61st.
  EXPECT_EQ(run_until_done(5940.0, 200, [](int) { return true; }), 61);
  EXPECT_EQ(switches, (std::vector<bool>{true, false}));
  // Past the next multiple of 6000 the position is small again: no second period.
  fee.step(6002.0, true);
  EXPECT_EQ(switches.size(), 2u);

  std::string out = capture.text();
  EXPECT_EQ(out.find(kEnter), 23u - 1);  // first line, right after the time stamp
  EXPECT_NE(out.find(std::string(kLeave) + "\n"), std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
}

TEST_F(DevFeeCycle, DisconnectedSecondsExtendThePeriodUpToTheCap) {
  StdoutCapture capture;
  fee.step(11940.0, false);  // second cycle
  ASSERT_TRUE(fee.in_fee());
  // Connected only on even iterations: 60 connected ones take 120 iterations.
  EXPECT_EQ(run_until_done(11940.0, 400, [](int i) { return i % 2 == 0; }), 121);
  fee.step(12100.0, false);
  fee.step(17940.0, false);
  ASSERT_TRUE(fee.in_fee());
  // A pool that never connects: 180 iterations, the switch back on the 181st.
  EXPECT_EQ(run_until_done(17940.0, 400, [](int) { return false; }), 181);
  EXPECT_EQ(switches, (std::vector<bool>{true, false, true, false}));
}

TEST_F(DevFeeCycle, StoppingDuringAPeriodMakesNoSwitchBack) {
  StdoutCapture capture;
  {
    DevFee short_lived([this](bool to_fee) { switches.push_back(to_fee); });
    short_lived.step(5950.0, true);
    short_lived.step(5951.0, true);
  }
  EXPECT_EQ(switches, std::vector<bool>{true});
  const std::string out = capture.text();
  EXPECT_EQ(out.find(kLeave), std::string::npos);
}

}  // namespace
