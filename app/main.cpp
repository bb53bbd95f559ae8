#include "app/cli/config_file.h"
#include "app/cli/options.h"
#include "app/console/banner.h"
#include "app/console/log.h"
#include "app/console/product.h"
#include "app/run_loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

using namespace tlm;

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
  std::vector<std::string> args, origins;
  std::string config_error;
  const bool config_read = expand_config(argc, argv, args, origins, config_error);
  std::vector<const char*> expanded;
  for (const std::string& a : args) expanded.push_back(a.c_str());
  expanded.push_back(nullptr);
  const int count = static_cast<int>(args.size());

  prescan_color(count, expanded.data());
  if (!asks_version(argc, argv)) print_banner(kProductName, kProductSubtitle, kVersion, g_color);
  if (!config_read) {
    print_error("%s", config_error.c_str());
    return 1;
  }

  Options opts;
  switch (parse(count, expanded.data(), opts, origins)) {
    case ParseResult::kExitOk: return 0;
    case ParseResult::kExitError: return 1;
    case ParseResult::kRun: break;
  }
  return RunLoop(opts).run();
}
