// tlm-testpool: a Stratum pool on 127.0.0.1 that hands out jobs, checks shares
// with the reference hash and can misbehave on request, for trying and testing
// the miner without a real pool.
#include <csignal>
#include <cstdio>

#include "hash/verushash.h"
#include "tools/tlm-testpool/pool_options.h"
#include "tools/tlm-testpool/pool_server.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char** argv) {
  testpool::PoolOptions options;
  switch (testpool::parse_pool_options(argc, argv, options)) {
    case tool_cli::Parsed::kExitOk: return 0;
    case tool_cli::Parsed::kExitError: return 1;
    case tool_cli::Parsed::kRun: break;
  }
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  testpool::PoolServer server(options, vh_hash_header);
  if (!server.listen()) return 1;
  server.run(g_stop);
  if (!options.summary_file.empty() && !server.summary().write(options.summary_file)) {
    fprintf(stderr, "tlm-testpool: cannot write %s\n", options.summary_file.c_str());
    return 1;
  }
  return 0;
}
