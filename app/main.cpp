#include "app/banner.h"
#include "app/console.h"
#include "app/options.h"
#include "app/product.h"
#include "app/run.h"

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
  return run(opts);
}
