// The command line of tlm-bench.
#pragma once

#include <string>
#include <vector>

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
  bool help = false;
};

// Parses argv[1..argc-1]. On a bad argument returns false with a one-line reason
// in *error.
bool parse(int argc, char** argv, Options* options, std::string* error);

// The usage text printed for --help and after a bad argument.
const char* usage();

}  // namespace tlm_bench
