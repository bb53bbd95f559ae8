#include "app/cli/options.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/cli/option_table.h"
#include "app/cli/wallet.h"
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

// Where the argument at `index` came from, as "(set by ...)" after a space, or
// nothing for the command line.
std::string origin_note(const std::vector<std::string>& origins, int index) {
  if (index < 0 || static_cast<size_t>(index) >= origins.size() || origins[index].empty()) return "";
  return " (set by " + origins[index] + ")";
}

// The example config's placeholder is no wallet: the user has not edited the file.
bool check_placeholder(const Options& opts, const std::vector<std::string>& origins, int index) {
  if (opts.wallet.substr(0, opts.wallet.find('.')) != kWalletPlaceholder) return true;
  if (index >= 0 && static_cast<size_t>(index) < origins.size() && !origins[index].empty())
    print_error("the wallet is still the example's %s: edit %s and put your Talmic address there",
                kWalletPlaceholder, origins[index].c_str());
  else
    print_error("--wallet %s is the example's placeholder: give your Talmic address", kWalletPlaceholder);
  return false;
}

// Values used as given that are probably not what the user meant. A wallet that
// is no Talmic address may still be a pool's account name.
void warn_about(const Options& opts, const std::vector<std::string>& origins, int wallet_at, int threads_at) {
  if (!is_talmic_address(opts.wallet.substr(0, opts.wallet.find('.'))))
    print_error("warning: --wallet %s is not a Talmic address (34 Base58 characters with a valid checksum)%s",
                opts.wallet.c_str(), origin_note(origins, wallet_at).c_str());
  if (!opts.rig_id.empty() && opts.wallet.find('.') != std::string::npos)
    print_error("warning: --rig-id %s is ignored: the wallet %s already names its worker", opts.rig_id.c_str(),
                opts.wallet.c_str());
  const long long cpus = std::max(1u, std::thread::hardware_concurrency());
  if (opts.threads > cpus)
    print_error("warning: --threads %d is more than the %lld logical CPUs: the threads take turns%s", opts.threads,
                cpus, origin_note(origins, threads_at).c_str());
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
  const char* term = getenv("TERM");
  g_color = (no_color == nullptr || no_color[0] == '\0') && (term == nullptr || strcmp(term, "dumb") != 0) &&
            isatty(1) == 1;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--no-color") == 0) g_color = false;
    if (strcmp(argv[i], "--color") == 0) g_color = true;
  }
}

bool asks_version(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const OptionSpec* option = find_option(argv[i]);
    if (option == nullptr || strcmp(option->name, "help") == 0) return false;
    if (strcmp(option->name, "version") == 0) return true;
    if (option->value_name != nullptr) ++i;
  }
  return false;
}

ParseResult parse(int argc, const char* const* argv, Options& opts, const std::vector<std::string>& origins) {
  int wallet_at = -1, threads_at = -1;  // where the value in use was given
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
    if (strcmp(option->name, "wallet") == 0) wallet_at = i;
    if (strcmp(option->name, "threads") == 0) threads_at = i;
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
      !check_text("--password", opts.password) || !check_text("--api-token", opts.api_token) ||
      !check_placeholder(opts, origins, wallet_at))
    return ParseResult::kExitError;
  const bool any_tls = opts.pool.tls || std::any_of(opts.backup_pools.begin(), opts.backup_pools.end(),
                                                    [](const PoolAddress& p) { return p.tls; });
  if (!any_tls && (opts.tls_fingerprint || opts.tls_insecure)) {
    print_error("%s needs a TLS pool (stratum+ssl://HOST:PORT)",
                opts.tls_fingerprint ? "--tls-fingerprint" : "--tls-insecure");
    return ParseResult::kExitError;
  }
  if (!opts.api_host.empty() && opts.api_token.empty() && !is_loopback_host(opts.api_host)) {
    print_error("--api %s listens beyond this machine: give --api-token too", opts.api_host.c_str());
    return ParseResult::kExitError;
  }
  warn_about(opts, origins, wallet_at, threads_at);
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
