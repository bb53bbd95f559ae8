#include "app/options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/console.h"

namespace ilvo {

namespace {

// Kept as a printf format with one %s so the program name stays a parameter.
std::string usage_format() {
  return std::string(
             "Usage: %s --pool HOST:PORT --wallet ADDRESS [options]\n"
             "\n"
             "  -o, --pool <host:port>   stratum pool (default ") +
         kDefaultHost +
         ":3352, stratum+tcp:// prefix accepted)\n"
         "  -u, --wallet <address>   your Talmic address (ADDRESS.rig also accepted)\n"
         "  -w, --rig-id <name>      worker name shown by the pool\n"
         "  -p, --password <" +
         kDefaultPassword + ">       pool password (default " + kDefaultPassword +
         ")\n"
         "  -t, --threads <n>        mining threads (default: all logical CPUs)\n"
         "      --stats-file <f>     write JSON stats every 10 s\n"
         "      --no-color           plain output\n"
         "  -h, --help               this help\n";
}

void print_usage() { printf("%s", usage_text().c_str()); }

int32_t to_int32(const char* text) {
  return static_cast<int32_t>(static_cast<uint32_t>(strtol(text, nullptr, 10)));
}

// A port outside 1..65535 becomes 0 and so fails validation, instead of being
// truncated to 16 bits and quietly naming some other port.
uint16_t to_port(const char* text) {
  long port = strtol(text, nullptr, 10);
  return port >= 1 && port <= 65535 ? static_cast<uint16_t>(port) : 0;
}

bool set_pool(const std::string& value, Options& opts) {
  static const std::string kScheme = "stratum+tcp://";
  std::string rest = value.compare(0, kScheme.size(), kScheme) == 0 ? value.substr(kScheme.size()) : value;
  size_t colon = rest.rfind(':');
  if (colon == std::string::npos) return false;
  opts.host = rest.substr(0, colon);
  opts.port = to_port(rest.c_str() + colon + 1);
  return true;
}

bool is(const char* arg, const char* short_name, const char* long_name) {
  return (short_name && strcmp(arg, short_name) == 0) || strcmp(arg, long_name) == 0;
}

}  // namespace

std::string usage_text() {
  std::string format = usage_format();
  int size = snprintf(nullptr, 0, format.c_str(), kProgramName);
  std::string text(static_cast<size_t>(size), '\0');
  snprintf(text.data(), text.size() + 1, format.c_str(), kProgramName);
  return text;
}

void prescan_color(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--no-color") == 0) g_color = false;
}

ParseResult parse(int argc, const char* const* argv, Options& opts) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (is(arg, "-h", "--help")) {
      print_usage();
      return ParseResult::kExitOk;
    }
    if (strcmp(arg, "--no-color") == 0) {
      g_color = false;
      continue;
    }
    const bool takes_value = is(arg, "-o", "--pool") || is(arg, "-u", "--wallet") ||
                             is(arg, "-w", "--rig-id") || is(arg, "-p", "--password") ||
                             is(arg, "-t", "--threads") || is(arg, nullptr, "--stats-file") ||
                             is(arg, nullptr, "--lanes");
    if (!takes_value) {
      fprintf(stderr, "unknown option %s (see --help)\n", arg);
      return ParseResult::kExitError;
    }
    if (i + 1 >= argc) {
      fprintf(stderr, "missing value for %s\n", arg);
      return ParseResult::kExitError;
    }
    const char* value = argv[++i];
    if (is(arg, "-o", "--pool")) {
      if (!set_pool(value, opts)) {
        fprintf(stderr, "--pool needs host:port\n");
        return ParseResult::kExitError;
      }
    } else if (is(arg, "-u", "--wallet")) {
      opts.wallet = value;
    } else if (is(arg, "-w", "--rig-id")) {
      opts.rig_id = value;
    } else if (is(arg, "-p", "--password")) {
      opts.password = value;
    } else if (is(arg, "-t", "--threads")) {
      opts.threads = to_int32(value);
    } else if (is(arg, nullptr, "--stats-file")) {
      opts.stats_file = value;
    } else {
      opts.lanes = to_int32(value);
    }
  }
  if (opts.host.empty() || opts.port == 0 || opts.wallet.empty()) {
    print_usage();
    return ParseResult::kExitError;
  }
  return ParseResult::kRun;
}

int32_t effective_lanes(int32_t lanes) { return lanes >= 1 && lanes <= 64 ? lanes : 32; }

int32_t effective_threads(int32_t threads) {
  if (threads >= 1) return threads;
  unsigned cpus = std::thread::hardware_concurrency();
  return cpus >= 1 ? static_cast<int32_t>(cpus) : 1;
}

std::string pool_user(const std::string& wallet, const std::string& rig_id) {
  if (rig_id.empty() || wallet.find('.') != std::string::npos) return wallet;
  return wallet + "." + rig_id;
}

}  // namespace ilvo
