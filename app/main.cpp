#include "app/banner.h"
#include "app/console.h"
#include "app/options.h"
#include "app/product.h"

using namespace ilvo;

int main(int argc, char** argv) {
  prescan_color(argc, argv);
  print_banner(kProductName, kProductSubtitle, kVersion, g_color);

  Options opts;
  switch (parse(argc, argv, opts)) {
    case ParseResult::kExitOk: return 0;
    case ParseResult::kExitError: return 1;
    case ParseResult::kRun: break;
  }

  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse4.1") || !__builtin_cpu_supports("aes") ||
      !__builtin_cpu_supports("pclmul")) {
    logf(kBad, "this CPU lacks AES-NI, PCLMUL or SSE4.1: not supported");
    return 1;
  }
  opts.lanes = effective_lanes(opts.lanes);
  opts.threads = effective_threads(opts.threads);
  const std::string user = pool_user(opts.wallet, opts.rig_id);

  logf(kStrong, "pool %s:%u · user %s · %d threads · 1%% dev fee", opts.host.c_str(),
       static_cast<unsigned>(opts.port), user.c_str(), opts.threads);
  return 0;
}
