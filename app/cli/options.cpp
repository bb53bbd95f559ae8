#include "app/cli/options.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "app/console/log.h"
#include "app/console/printable.h"
#include "app/console/product.h"
#include "engine/engine.h"
#include "stratum/fingerprint.h"

namespace tlm {

namespace {

// Kept as a printf format with one %s so the program name stays a parameter.
std::string usage_format() {
  return std::string(
             "Usage: %s --pool HOST:PORT --wallet ADDRESS [options]\n"
             "\n"
             "  -o, --pool <host:port>   stratum pool (default ") +
         kDefaultHost +
         ":3352, stratum+tcp:// prefix accepted)\n"
         "      --backup-pool <url>  pool to switch to when the current one fails (repeatable)\n"
         "      --tls-fingerprint <sha256>\n"
         "                           for stratum+ssl:// (or +tls://) pools: accept only this certificate\n"
         "      --tls-insecure       for TLS pools: accept any certificate (not checked)\n"
         "  -u, --wallet <address>   your Talmic address (ADDRESS.rig also accepted)\n"
         "  -w, --rig-id <name>      worker name shown by the pool\n"
         "  -p, --password <" +
         kDefaultPassword + ">       pool password (default " + kDefaultPassword +
         ")\n"
         "  -t, --threads <n>        mining threads (default: all logical CPUs)\n"
         "      --stats-file <f>     write JSON stats every 10 s\n"
         "      --no-color           plain output\n"
         "      --kernel <name>      force a hash kernel: avx512, avx2, avx, sse4.1, neon or portable\n"
         "      --config <file>      read options from a JSON file (the command line wins)\n"
         "      --api <host:port>    monitoring API: GET /summary, GET /metrics\n"
         "      --api-token <t>      require Authorization: Bearer <t> (needed beyond loopback)\n"
         "      --version            print the version\n"
         "  -h, --help               this help\n";
}

void print_usage() { printf("%s", usage_text().c_str()); }

enum class Number { kExact, kTrailing, kNone, kTooBig };

// Reads a decimal integer the way strtol does, and says how well the text fit.
Number read_number(const char* text, long long& value) {
  char* rest = nullptr;
  errno = 0;
  value = strtoll(text, &rest, 10);
  if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return Number::kTooBig;
  if (rest == text) return Number::kNone;
  return *rest == '\0' ? Number::kExact : Number::kTrailing;
}

long long logical_cpus() { return std::max(1u, std::thread::hardware_concurrency()); }

// -t: a count that would start far more threads than the machine runs, or that
// does not fit, is refused; text that is not a clean number is read as before
// (strtol), with a warning.
bool set_threads(const char* option, const char* text, Options& opts) {
  long long n = 0;
  const Number kind = read_number(text, n);
  if (kind == Number::kTooBig) {
    print_error("%s %s does not fit in 32 bits", option, text);
    return false;
  }
  if (n > 4 * logical_cpus()) {
    print_error("%s %s is more than 4 x the %lld logical CPUs", option, text, logical_cpus());
    return false;
  }
  if (kind == Number::kNone)
    print_error("warning: %s %s is not a number, using all logical CPUs", option, text);
  else if (kind == Number::kTrailing)
    print_error("warning: %s %s is read as %lld", option, text, n);
  opts.threads = static_cast<int32_t>(n);
  return true;
}

void set_lanes(const char* text, Options& opts) {
  long long n = 0;
  const Number kind = read_number(text, n);
  if (kind == Number::kTooBig || n < 1 || n > kTlmMaxLanes) {
    print_error("warning: --lanes %s is not 1 to 64, using 32", text);
    n = 32;
  } else if (kind == Number::kTrailing) {
    print_error("warning: --lanes %s is read as %lld", text, n);
  }
  opts.lanes = static_cast<int32_t>(n);
}

// Finds the colon before the port in host:port, where the host may be an IPv6
// literal in brackets, and sets `host` without them; npos when there is none.
size_t split_host_port(const std::string& text, std::string& host) {
  size_t colon = text.rfind(':');
  host = text.substr(0, colon == std::string::npos ? 0 : colon);
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    colon = close != std::string::npos && close + 1 < text.size() && text[close + 1] == ':' ? close + 1
                                                                                           : std::string::npos;
    if (colon != std::string::npos) host = text.substr(1, close - 1);
  }
  return colon;
}

// --api: host:port; port 0 lets the system pick one.
bool set_api(const char* option, const std::string& value, Options& opts) {
  std::string host;
  const size_t colon = split_host_port(value, host);
  long long port = -1;
  if (colon == std::string::npos || host.empty() ||
      read_number(value.c_str() + colon + 1, port) != Number::kExact || port < 0 || port > 65535) {
    print_error("%s %s: give host:port with a port of 0 to 65535", option, value.c_str());
    return false;
  }
  opts.api_host = host;
  opts.api_port = static_cast<uint16_t>(port);
  return true;
}

// Letters, digits and the . - _ of a DNS name, or the : and % of an IPv6 address
// with its zone: anything else (a space, a control character, a slash) is in no
// host name.
bool is_host_name(const std::string& host) {
  for (const char c : host) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum && std::string_view(".-_:%").find(c) == std::string_view::npos) return false;
  }
  return true;
}

// Pool address: [scheme://]host:port, with an IPv6 literal in brackets.
bool read_pool(const char* option, const std::string& value, PoolAddress& pool) {
  std::string rest = value;
  const size_t scheme_end = rest.find("://");
  pool.tls = false;
  if (scheme_end != std::string::npos) {
    const std::string scheme = rest.substr(0, scheme_end);
    if (scheme != "stratum+tcp" && scheme != "stratum+ssl" && scheme != "stratum+tls") {
      print_error("%s %s: unknown scheme, use stratum+tcp://, stratum+ssl:// or stratum+tls://", option,
              value.c_str());
      return false;
    }
    pool.tls = scheme != "stratum+tcp";
    rest.erase(0, scheme_end + 3);
  }
  std::string host;
  const size_t colon = split_host_port(rest, host);
  if (colon == std::string::npos) {
    print_error("%s needs host:port", strcmp(option, "-o") == 0 ? "--pool" : option);
    return false;
  }
  if (host.empty()) {
    print_error("%s %s: the host is empty", option, value.c_str());
    return false;
  }
  if (!is_host_name(host)) {
    print_error("%s %s: the host has a character no host name may contain", option, value.c_str());
    return false;
  }
  long long port = 0;
  if (read_number(rest.c_str() + colon + 1, port) != Number::kExact || port < 1 || port > 65535) {
    print_error("%s %s: the port must be 1 to 65535", option, value.c_str());
    return false;
  }
  pool.host = host;
  pool.port = static_cast<uint16_t>(port);
  return true;
}

bool set_pool(const char* option, const std::string& value, Options& opts) {
  PoolAddress pool;
  if (!read_pool(option, value, pool)) return false;
  opts.host = pool.host;
  opts.port = pool.port;
  opts.tls = pool.tls;
  return true;
}

bool set_fingerprint(const char* text, Options& opts) {
  Fingerprint fp;
  if (!parse_fingerprint(text, fp)) {
    print_error("--tls-fingerprint %s: not a SHA-256 fingerprint (64 hex digits, colons allowed)", text);
    return false;
  }
  opts.tls_fingerprint = fp;
  return true;
}

// Texts that go into the pool's JSON lines and onto the terminal: valid UTF-8
// without control characters.
bool check_text(const char* option, const std::string& value) {
  if (is_printable(value)) return true;
  print_error("%s has a control character or invalid UTF-8", option);
  return false;
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
  const char* no_color = getenv("NO_COLOR");
  if (no_color != nullptr && no_color[0] != '\0') g_color = false;
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "--no-color") == 0) g_color = false;
}

ParseResult parse(int argc, const char* const* argv, Options& opts, const std::vector<std::string>& origins) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (is(arg, "-h", "--help")) {
      print_usage();
      return ParseResult::kExitOk;
    }
    if (strcmp(arg, "--version") == 0) {
      printf("%s %s\n", kProductName, kVersion);
      return ParseResult::kExitOk;
    }
    if (strcmp(arg, "--no-color") == 0) {
      g_color = false;
      continue;
    }
    if (strcmp(arg, "--tls-insecure") == 0) {
      opts.tls_insecure = true;
      continue;
    }
    const bool takes_value = is(arg, "-o", "--pool") || is(arg, "-u", "--wallet") ||
                             is(arg, "-w", "--rig-id") || is(arg, "-p", "--password") ||
                             is(arg, "-t", "--threads") || is(arg, nullptr, "--stats-file") ||
                             is(arg, nullptr, "--lanes") || is(arg, nullptr, "--kernel") ||
                             is(arg, nullptr, "--backup-pool") || is(arg, nullptr, "--tls-fingerprint") ||
                             is(arg, nullptr, "--api") || is(arg, nullptr, "--api-token");
    if (!takes_value) {
      print_error("unknown option %s (see --help)", arg);
      return ParseResult::kExitError;
    }
    if (i + 1 >= argc) {
      print_error("missing value for %s", arg);
      return ParseResult::kExitError;
    }
    const char* value = argv[++i];
    bool ok = true;
    if (is(arg, "-o", "--pool")) {
      ok = set_pool(arg, value, opts);
    } else if (is(arg, "-u", "--wallet")) {
      opts.wallet = value;
    } else if (is(arg, "-w", "--rig-id")) {
      opts.rig_id = value;
    } else if (is(arg, "-p", "--password")) {
      opts.password = value;
    } else if (is(arg, "-t", "--threads")) {
      ok = set_threads(arg, value, opts);
    } else if (is(arg, nullptr, "--stats-file")) {
      opts.stats_file = value;
    } else if (is(arg, nullptr, "--kernel")) {
      opts.kernel = value;
    } else if (is(arg, nullptr, "--backup-pool")) {
      opts.backup_pools.emplace_back();
      ok = read_pool(arg, value, opts.backup_pools.back());
    } else if (is(arg, nullptr, "--tls-fingerprint")) {
      ok = set_fingerprint(value, opts);
    } else if (is(arg, nullptr, "--api")) {
      ok = set_api(arg, value, opts);
    } else if (is(arg, nullptr, "--api-token")) {
      opts.api_token = value;
    } else {
      set_lanes(value, opts);
    }
    if (!ok) {
      if (static_cast<size_t>(i) < origins.size() && !origins[i].empty())
        print_error("(set by %s)", origins[i].c_str());
      return ParseResult::kExitError;
    }
  }
  if (opts.wallet.empty()) {
    print_usage();
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
  return threads >= 1 ? threads : static_cast<int32_t>(logical_cpus());
}

std::string pool_user(const std::string& wallet, const std::string& rig_id) {
  if (rig_id.empty() || wallet.find('.') != std::string::npos) return wallet;
  return wallet + "." + rig_id;
}

}  // namespace tlm
