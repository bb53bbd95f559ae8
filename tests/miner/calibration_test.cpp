// The calibration's choice from given rates, the line that reports it, and its
// threads meeting at every slice whatever they are doing.
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "miner/calibration.h"

namespace {

using namespace tlm;
using Rates = std::vector<std::vector<double>>;

TEST(Calibration, ChoosesTheHighestMedianAndTheEarlierOnATie) {
  const struct {
    const char* what;
    Rates rates;
    size_t chosen;
  } table[] = {
      {"one setting (a forced lane count): nothing measured", {{}}, 0},
      {"one setting, measured", {{4e6, 4.1e6}}, 0},
      {"the fastest", {{1e6, 1e6, 1e6}, {3e6, 3e6, 3e6}, {2e6, 2e6, 2e6}}, 1},
      {"a tie", {{2e6, 3e6, 2.5e6}, {3e6, 2.5e6, 2e6}}, 0},
      {"one round disturbed upwards", {{4.0e6, 4.1e6, 9.9e6, 4.0e6, 4.2e6}, {4.5e6, 4.4e6, 4.6e6, 4.5e6, 4.3e6}}, 1},
      {"one round disturbed downwards", {{4.0e6, 4.1e6, 4.1e6, 4.0e6, 4.2e6}, {4.5e6, 0.4e6, 4.6e6, 4.5e6, 4.3e6}}, 1},
      {"even rounds: the middle two", {{1e6, 5e6}, {2.9e6, 3.0e6}}, 0},
  };
  for (const auto& row : table) EXPECT_EQ(fastest(row.rates), row.chosen) << row.what;
}

TEST(Calibration, ReportsTheChoiceWithTheRatesBehindIt) {
  const tlm_kernel a{"avx512", "", "", nullptr, nullptr};
  const tlm_kernel b{"avx2", "", "", nullptr, nullptr};
  const struct {
    std::vector<tlm_setting> settings;
    std::vector<double> medians;
    size_t chosen;
    std::string line;
  } table[] = {
      {{{&a, 32}, {&a, 48}, {&a, 64}}, {4.11e6, 4.4e6, 4.634e6}, 2, "lanes 64 (measured 32: 4.11, 48: 4.40, 64: 4.63 MH/s)"},
      {{{&a, 16}, {&a, 32}, {&b, 16}, {&b, 32}},
       {2.5e6, 3.1e6, 2.6e6, 3.4e6},
       3,
       "kernel avx2 · lanes 32 (measured avx512 16: 2.50, 32: 3.10 · avx2 16: 2.60, 32: 3.40 MH/s)"},
      {{{&a, 16}, {&a, 32}}, {12000, 9000}, 0, "lanes 16 (measured 16: 12.00, 32: 9.00 kH/s)"},
      {{{&a, 16}, {&a, 32}}, {0, 0}, 0, "lanes 16 (measured 16: 0.00, 32: 0.00 H/s)"},
  };
  for (const auto& row : table) EXPECT_EQ(describe_choice(row.settings, row.medians, row.chosen), row.line);
}

// Three threads agreed on; one never comes, and the others still finish, choose
// the same setting among those offered and report it once. Stopped, they finish
// the calibration at once.
TEST(Calibration, ThreadsMeetAtEverySliceAndAgree) {
  tlm_engine_global_init();
  const tlm_kernel* kernel = tlm_engine_selected();
  const std::vector<tlm_setting> offered = {{kernel, 1}, {kernel, 2}, {kernel, 3}};
  for (bool keep_running : {true, false}) {
    Calibration calibration(offered, 3, std::chrono::milliseconds(60));
    std::atomic<bool> running{keep_running};
    std::vector<tlm_setting> chosen(2);
    std::vector<int> reports(2, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
      threads.emplace_back([&, i] {
        tlm_engine* ctx = tlm_engine_new(kTlmMaxLanes);
        chosen[i] = calibration.run(ctx, i, running);
        tlm_engine_free(ctx);
        if (std::optional<std::string> line = calibration.take_report()) {
          ++reports[i];
          EXPECT_TRUE(std::regex_match(*line, std::regex(R"(lanes [123] \(measured 1: \S+, 2: \S+, 3: \S+ [kM]?H/s\))")))
              << *line;
        }
      });
    }
    calibration.leave();
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(chosen[0].kernel, kernel);
    EXPECT_EQ(chosen[0].lanes, chosen[1].lanes);
    EXPECT_GE(chosen[0].lanes, 1);
    EXPECT_LE(chosen[0].lanes, 3);
    EXPECT_EQ(reports[0] + reports[1], 1);
    EXPECT_FALSE(calibration.take_report());
  }
}

}  // namespace
