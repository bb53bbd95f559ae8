#include "tools/tlm-bench/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace tlm_bench {

namespace {

constexpr int kMaxThreads = 1024;
constexpr double kMaxSeconds = 3600;

// Parses a whole decimal integer in [lo, hi].
bool parse_int(std::string_view text, int lo, int hi, int* value) {
  std::string s(text);
  if (s.empty() || s.size() > 9) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  long v = std::strtol(s.c_str(), nullptr, 10);
  if (v < lo || v > hi) return false;
  *value = int(v);
  return true;
}

// Lane counts in [1, 64] or auto (kAutoLanes), separated by commas.
bool parse_lanes(std::string_view text, std::vector<int>* values) {
  values->clear();
  for (;;) {
    size_t comma = text.find(',');
    int v = kAutoLanes;
    if (text.substr(0, comma) != "auto" && !parse_int(text.substr(0, comma), 1, 64, &v)) return false;
    values->push_back(v);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

bool parse_seconds(std::string_view text, double* value) {
  std::string s(text);
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(s.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v <= 0 || v > kMaxSeconds) return false;
  *value = v;
  return true;
}

}  // namespace

const char* usage() {
  return "usage: tlm-bench [--kernel NAME] [--threads N] [--lanes N[,N...]] [--seconds S]\n"
         "                 [--json] [--selftest] [--tune]\n"
         "\n"
         "  --kernel NAME      only this kernel: avx512, avx2, avx, sse4.1 (x86), neon (ARM64),\n"
         "                     portable, or auto: the miner's own choice (default: every one the\n"
         "                     CPU can run, side by side, then a thread-scaling line)\n"
         "  --threads N        mining threads (default: 1, and all logical CPUs for the best)\n"
         "  --lanes N[,N...]   nonces hashed side by side per thread, 1..64, or auto: the count\n"
         "                     the miner measures as fastest (default 32)\n"
         "  --seconds S        length of each measurement (default 5)\n"
         "  --json             one JSON object per measurement per line\n"
         "  --selftest         check the kernels against the reference for lanes 1..64\n"
         "  --tune             every kernel at 16, 32, 48 and 64 lanes (or --lanes), at 1 thread\n"
         "                     and at all (or --threads), then what the miner would choose\n"
         "  -h, --help         this help\n";
}

bool parse(int argc, char** argv, Options* options, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    auto take_value = [&]() {
      if (i + 1 >= argc) return false;
      value = argv[++i];
      return true;
    };
    if (arg == "--json") {
      options->json = true;
    } else if (arg == "--selftest") {
      options->selftest = true;
    } else if (arg == "--tune") {
      options->tune = true;
    } else if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--kernel") {
      if (!take_value() || value.empty()) {
        *error = "--kernel needs a name: avx512, avx2, avx, sse4.1, neon, portable or auto";
        return false;
      }
      options->kernel = std::string(value);
    } else if (arg == "--threads") {
      int n = 0;
      if (!take_value() || !parse_int(value, 1, kMaxThreads, &n)) {
        *error = "--threads needs a whole number from 1 to 1024";
        return false;
      }
      options->threads = {n};
    } else if (arg == "--lanes") {
      if (!take_value() || !parse_lanes(value, &options->lanes)) {
        *error = "--lanes needs auto, a number from 1 to 64 or a list such as 8,16,32,64";
        return false;
      }
      options->lanes_given = true;
    } else if (arg == "--seconds") {
      if (!take_value() || !parse_seconds(value, &options->seconds)) {
        *error = "--seconds needs a number above 0 and at most 3600";
        return false;
      }
    } else {
      *error = "unknown argument '" + std::string(argv[i]) + "'";
      return false;
    }
  }
  return true;
}

}  // namespace tlm_bench
