// The command line of tlm-bench.
#pragma once

#include <string>
#include <vector>

#include "tools/command_line/command_line.h"

namespace tlm_bench {

inline constexpr int kAutoLanes = 0;  // the miner measures which lane count is fastest

struct Options {
  std::string kernel;         // empty: every kernel the processor can run; "auto": the miner's choice
  std::vector<int> threads;   // empty: 1 and all logical processors
  std::vector<int> lanes = {32};
  bool lanes_given = false;
  double seconds = 5.0;
  bool json = false;
  bool selftest = false;
  bool tune = false;
};

// Fills `options` from argv[1..argc-1]; --threads 0 stands for all logical CPUs.
tool_cli::Parsed parse(int argc, char** argv, Options& options);

}  // namespace tlm_bench
