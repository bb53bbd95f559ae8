#include "app/banner.h"
#include "app/console.h"
#include "app/options.h"
#include "app/product.h"
#include "app/run.h"

#include <fcntl.h>
#include <unistd.h>

using namespace ilvo;

namespace {

// A closed standard descriptor would be handed out to the next file or socket,
// and log lines would then go to the pool: fill the gaps with /dev/null first.
void open_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) == -1) _exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  open_standard_descriptors();
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
