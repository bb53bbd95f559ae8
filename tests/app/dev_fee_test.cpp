// The dev-fee cycle driven by uptime and the connection flag, without waiting for it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "app/console/log.h"
#include "app/dev_fee.h"
#include "tests/support/stdout_capture.h"

namespace {

using namespace tlm;

TEST(DevFee, OneConnectedMinuteFrom5940sInEvery6000sAtMostThree) {
  std::vector<bool> switches;  // true: to the fee wallet
  DevFee fee([&](bool to_fee) { switches.push_back(to_fee); });
  // Enters a period at `start`, then steps once a second; returns the steps until
  // the switch back.
  const auto period = [&](double start, const std::function<bool(int)>& connected) {
    fee.step(start, true);
    EXPECT_TRUE(fee.in_fee()) << start;
    int i = 0;
    while (fee.in_fee() && i < 400) {
      ++i;
      fee.step(start + i, connected(i));
    }
    return i;
  };
  g_color = false;
  const std::string out = testing_support::log_of([&] {
    fee.step(1.0, true);
    fee.step(5939.9, true);
    EXPECT_TRUE(switches.empty());
    // 60 connected steps are counted, the switch back comes on the 61st.
    EXPECT_EQ(period(5940, [](int) { return true; }), 61);
    fee.step(6002, true);  // past the next multiple of 6000: no second period
    EXPECT_EQ(period(11940, [](int i) { return i % 2 == 0; }), 121);
    EXPECT_EQ(period(17940, [](int) { return false; }), 181);  // a pool that never connects
  });
  g_color = true;
  EXPECT_EQ(switches, (std::vector<bool>{true, false, true, false, true, false}));
  const std::string lines = "[T] dev fee: 1% contribution (1 min)\n[T] dev fee done, back to your wallet\n";
  EXPECT_EQ(out, lines + lines + lines);
}

}  // namespace
