#include "app/cli/options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/cli/option_table.h"
#include "app/console/log.h"
#include "app/console/printable.h"
#include "stratum/failover.h"
#include "stratum/stratum.h"

namespace tlm {

namespace {

// The description column of the usage text; an option too wide for the space
// before it has its description on the next line.
constexpr size_t kHelpColumn = 27;

std::string usage_line(const OptionSpec& o) {
  std::string left = o.short_name != 0 ? std::string("  -") + o.short_name + ", --" : std::string("      --");
  left += o.name;
  if (o.value_name != nullptr) left += std::string(" <") + o.value_name + ">";
  if (left.size() + 2 <= kHelpColumn) return left + std::string(kHelpColumn - left.size(), ' ') + o.help + "\n";
  return left + "\n" + std::string(kHelpColumn, ' ') + o.help + "\n";
}

// Texts that go into the pool's JSON lines and onto the terminal: valid UTF-8
// without control characters.
bool check_text(const char* option, const std::string& value) {
  if (is_printable(value)) return true;
  print_error("%s has a control character or invalid UTF-8", option);
  return false;
}

}  // namespace

Options::Options()
    : pool_silence(std::chrono::duration_cast<std::chrono::seconds>(Stratum::Timing().silence)),
      job_wait(std::chrono::duration_cast<std::chrono::seconds>(Failover::Timing().job_wait)),
      probe_interval(std::chrono::duration_cast<std::chrono::seconds>(Failover::Timing().probe_every)) {}

std::string usage_text() {
  std::string text = std::string("Usage: ") + kProgramName + " --pool HOST:PORT --wallet ADDRESS [options]\n\n";
  for (const OptionSpec& o : option_table()) text += usage_line(o);
  return text;
}

void prescan_color(int argc, const char* const* argv) {
  const char* no_color = getenv("NO_COLOR");
  if (no_color != nullptr && no_color[0] != '\0') g_color = false;
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--no-color") == 0) g_color = false;
}

ParseResult parse(int argc, const char* const* argv, Options& opts, const std::vector<std::string>& origins) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const OptionSpec* option = find_option(arg);
    if (option == nullptr) {
      print_error("unknown option %s (see --help)", arg);
      return ParseResult::kExitError;
    }
    const char* value = nullptr;
    if (option->value_name != nullptr) {
      if (i + 1 >= argc) {
        print_error("missing value for %s", arg);
        return ParseResult::kExitError;
      }
      value = argv[++i];
    }
    switch (option->apply(arg, value, opts)) {
      case Next::kGoOn: break;
      case Next::kExitOk: return ParseResult::kExitOk;
      case Next::kExitError:
        if (static_cast<size_t>(i) < origins.size() && !origins[i].empty())
          print_error("(set by %s)", origins[i].c_str());
        return ParseResult::kExitError;
    }
  }
  if (opts.wallet.empty()) {
    printf("%s", usage_text().c_str());
    print_error("--wallet is required");
    return ParseResult::kExitError;
  }
  if (!check_text("--wallet", opts.wallet) || !check_text("--rig-id", opts.rig_id) ||
      !check_text("--password", opts.password) || !check_text("--api-token", opts.api_token))
    return ParseResult::kExitError;
  if (!opts.api_host.empty() && opts.api_token.empty() && !is_loopback_host(opts.api_host)) {
    print_error("--api %s listens beyond this machine: give --api-token too", opts.api_host.c_str());
    return ParseResult::kExitError;
  }
  return ParseResult::kRun;
}

bool is_loopback_host(const std::string& host) {
  if (host == "localhost") return true;
  in_addr v4;
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6;
  return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

int32_t effective_threads(int32_t threads) {
  return threads >= 1 ? threads : static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

std::string pool_user(const std::string& wallet, const std::string& rig_id) {
  if (rig_id.empty() || wallet.find('.') != std::string::npos) return wallet;
  return wallet + "." + rig_id;
}

}  // namespace tlm
