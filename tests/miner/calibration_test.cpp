// The calibration's choice from given rates and the line that reports it. Its
// threads meeting and agreeing are the mining session's process test.
#include <gtest/gtest.h>

#include <string>
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

}  // namespace
