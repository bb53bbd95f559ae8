#include "tools/tlm-bench/options.h"

#include <algorithm>
#include <string_view>
#include <thread>

namespace tlm_bench {

namespace {

constexpr int kMaxThreads = 1024;
constexpr double kMaxSeconds = 3600;

// Lane counts in [1, 64] or auto (kAutoLanes), separated by commas.
bool parse_lanes(const char* option, const char* text, std::vector<int>& values) {
  values.clear();
  std::string_view rest = text;
  for (;;) {
    const size_t comma = rest.find(',');
    const std::string item(rest.substr(0, comma));
    long long v = kAutoLanes;
    if (item != "auto" && !tool_cli::read_whole(option, item.c_str(), 1, 64, v)) return false;
    values.push_back(static_cast<int>(v));
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

}  // namespace

tool_cli::Parsed parse(int argc, char** argv, Options& options) {
  using tool_cli::set_flag;
  const auto threads = [&options](const char* option, const char* value) {
    long long n = 0;
    if (!tool_cli::read_whole(option, value, 0, kMaxThreads, n)) return false;
    options.threads = {n == 0 ? static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))
                              : static_cast<int>(n)};
    return true;
  };
  const auto lanes = [&options](const char* option, const char* value) {
    options.lanes_given = true;
    return parse_lanes(option, value, options.lanes);
  };
  const tool_cli::Tool tool{
      "tlm-bench", "[options]",
      "Measures the hash rate through the miner itself: its mining threads on a synthetic\n"
      "job, shares counted instead of sent. By default every kernel this CPU runs, side by\n"
      "side at 1 thread, then the fastest at all logical CPUs.",
      {
          {"kernel", 0, "name", "only this kernel: avx512, avx2, avx, sse4.1, neon, portable or auto",
           tool_cli::set_nonempty_text(options.kernel)},
          {"threads", 't', "n", "mining threads, 0: all logical CPUs (default: 1, then all)", threads},
          {"lanes", 0, "n[,n...]", "nonces side by side per thread, 1 to 64 or auto (default 32)", lanes},
          {"seconds", 0, "s", "length of each measurement (default 5)",
           tool_cli::set_decimal(options.seconds, 0.001, kMaxSeconds)},
          {"json", 0, nullptr, "one JSON object per measurement per line", set_flag(options.json)},
          {"selftest", 0, nullptr, "check the kernels against the reference at lanes 1 to 64",
           set_flag(options.selftest)},
          {"tune", 0, nullptr, "every kernel at 16, 32, 48, 64 lanes (or --lanes), 1 and all threads",
           set_flag(options.tune)},
      }};
  return tool_cli::parse(tool, argc, argv);
}

}  // namespace tlm_bench
