// Feeds arbitrary command lines to the option parser: the input's NUL bytes
// separate the arguments. Whatever it gets, the parser answers with one of its
// three results and, when it says run, leaves values the program can use.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/options.h"
#include "engine/engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"ilvo-varnel-tlm"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (size > 0) args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  tlm::prescan_color(argc, argv.data());
  tlm::Options opts;
  const tlm::ParseResult result = tlm::parse(argc, argv.data(), opts);
  if (result == tlm::ParseResult::kRun) {
    if (opts.lanes != tlm_clamp_lanes(opts.lanes) || tlm::effective_threads(opts.threads) < 1 ||
        opts.wallet.empty() || opts.host.empty() || opts.port == 0) {
      __builtin_trap();
    }
    tlm::pool_user(opts.wallet, opts.rig_id);
  }
  return 0;
}
