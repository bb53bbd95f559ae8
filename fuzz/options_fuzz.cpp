// Feeds arbitrary command lines to the option parser: the input's NUL bytes
// separate the arguments, and an argument made of byte 0x01 and one more byte
// names that row of the option table, so every option is reached however the
// table grows. Whatever it gets, the parser answers with one of its three results
// and, when it says run, leaves values the program can use.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli/option_table.h"
#include "app/cli/options.h"
#include "engine/engine.h"

namespace {

// Odd bytes pick the short name where there is one.
std::string argument(const std::string& piece) {
  if (piece.size() != 2 || piece[0] != '\x01') return piece;
  const tlm::OptionSpec& o = tlm::option_table()[static_cast<uint8_t>(piece[1]) % tlm::option_table().size()];
  return o.short_name != 0 && (piece[1] & 1) ? std::string{'-', o.short_name} : std::string("--") + o.name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"ilvo-varnel-tlm"};
  std::string current;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(argument(current));
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (size > 0) args.push_back(argument(current));
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(args.size());

  tlm::prescan_color(argc, argv.data());
  tlm::Options opts;
  const tlm::ParseResult result = tlm::parse(argc, argv.data(), opts);
  if (result == tlm::ParseResult::kRun) {
    if ((opts.lanes != 0 && opts.lanes != tlm_clamp_lanes(opts.lanes)) || tlm::effective_threads(opts.threads) < 1 ||
        opts.wallet.empty() || opts.pool.host.empty() || opts.pool.port == 0 ||
        opts.pool_silence.count() < 1 || opts.job_wait.count() < 1 || opts.probe_interval.count() < 1) {
      __builtin_trap();
    }
    for (const tlm::PoolAddress& p : opts.backup_pools)
      if (p.host.empty() || p.port == 0) __builtin_trap();
    tlm::pool_user(opts.wallet, opts.rig_id);
  }
  return 0;
}
