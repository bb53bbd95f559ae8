#include "app/cli/option_table.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "app/cli/options.h"
#include "app/console/log.h"
#include "app/console/product.h"
#include "engine/engine.h"

namespace tlm {

namespace {

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

Next ok_if(bool ok) { return ok ? Next::kGoOn : Next::kExitError; }

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
  if (value.find(',') != std::string::npos) {
    print_error("%s %s: one pool each time: repeat %s", option, value.c_str(), option);
    return false;
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

Next set_pool(const char* option, const char* value, Options& opts) {
  return ok_if(read_pool(option, value, opts.pool));
}

Next add_backup_pool(const char* option, const char* value, Options& opts) {
  opts.backup_pools.emplace_back();
  return ok_if(read_pool(option, value, opts.backup_pools.back()));
}

Next set_fingerprint(const char* option, const char* value, Options& opts) {
  Fingerprint fp;
  if (!parse_fingerprint(value, fp)) {
    print_error("%s %s: not a SHA-256 fingerprint (64 hex digits, colons allowed)", option, value);
    return Next::kExitError;
  }
  opts.tls_fingerprint = fp;
  return Next::kGoOn;
}

Next set_tls_insecure(const char*, const char*, Options& opts) {
  opts.tls_insecure = true;
  return Next::kGoOn;
}

constexpr long long kMaxSeconds = 86400;

// A time of the pool connection, in whole seconds.
template <std::chrono::seconds Options::*field>
Next set_seconds(const char* option, const char* value, Options& opts) {
  long long n = 0;
  if (read_number(value, n) != Number::kExact || n < 1 || n > kMaxSeconds) {
    print_error("%s %s: give a whole number of seconds from 1 to %lld", option, value, kMaxSeconds);
    return Next::kExitError;
  }
  opts.*field = std::chrono::seconds(n);
  return Next::kGoOn;
}

// A text taken as it is; what goes to the pool or the terminal is checked once
// all options are read.
template <std::string Options::*field>
Next set_text(const char*, const char* value, Options& opts) {
  opts.*field = value;
  return Next::kGoOn;
}

// -t: a count that would start far more threads than the machine runs, or that
// does not fit, is refused; text that is not a clean number is read as before
// (strtol), with a warning.
Next set_threads(const char* option, const char* value, Options& opts) {
  long long n = 0;
  const Number kind = read_number(value, n);
  if (kind == Number::kTooBig) {
    print_error("%s %s does not fit in 32 bits", option, value);
    return Next::kExitError;
  }
  if (n > 4 * logical_cpus()) {
    print_error("%s %s is more than 4 x the %lld logical CPUs", option, value, logical_cpus());
    return Next::kExitError;
  }
  if (kind == Number::kNone)
    print_error("warning: %s %s is not a number, using all logical CPUs", option, value);
  else if (kind == Number::kTrailing)
    print_error("warning: %s %s is read as %lld", option, value, n);
  opts.threads = static_cast<int32_t>(n);
  return Next::kGoOn;
}

// auto (0: measured at start) or 1 to 64; anything else is read as auto, with a warning.
Next set_lanes(const char* option, const char* value, Options& opts) {
  opts.lanes = 0;
  if (strcmp(value, "auto") == 0) return Next::kGoOn;
  long long n = 0;
  const Number kind = read_number(value, n);
  if (kind == Number::kTooBig || n < 1 || n > kTlmMaxLanes) {
    print_error("warning: %s %s is not auto or 1 to %d, using auto", option, value, kTlmMaxLanes);
    return Next::kGoOn;
  }
  if (kind == Number::kTrailing) print_error("warning: %s %s is read as %lld", option, value, n);
  opts.lanes = static_cast<int32_t>(n);
  return Next::kGoOn;
}


template <bool on>
Next set_color(const char*, const char*, Options&) {
  g_color = on;
  return Next::kGoOn;
}


// The files were read before parsing (expand_config): nothing is left to do.
Next read_config(const char*, const char*, Options&) { return Next::kGoOn; }

// --api: host:port; port 0 lets the system pick one.
Next set_api(const char* option, const char* value, Options& opts) {
  const std::string text = value;
  std::string host;
  const size_t colon = split_host_port(text, host);
  long long port = -1;
  if (colon == std::string::npos || host.empty() ||
      read_number(text.c_str() + colon + 1, port) != Number::kExact || port < 0 || port > 65535) {
    print_error("%s %s: give host:port with a port of 0 to 65535", option, value);
    return Next::kExitError;
  }
  opts.api_host = host;
  opts.api_port = static_cast<uint16_t>(port);
  return Next::kGoOn;
}


Next print_version(const char*, const char*, Options&) {
  printf("%s %s\n", kProgramName, kVersion);
  return Next::kExitOk;
}

Next print_help(const char*, const char*, Options&) {
  printf("%s", usage_text().c_str());
  return Next::kExitOk;
}

std::vector<OptionSpec> make_table() {
  const Options defaults;
  const auto seconds = [](std::chrono::seconds s) { return std::to_string(s.count()); };
  const std::string port = std::to_string(kDefaultPort);
  using C = ConfigValue;
  return {
      {"pool", 'o', "host:port",
       std::string("stratum pool (default ") + kDefaultHost + ":" + port + ", stratum+tcp:// prefix accepted)",
       C::kText, set_pool},
      {"backup-pool", 0, "url", "pool to switch to when the current one fails (repeatable)", C::kTextList,
       add_backup_pool},
      {"tls-fingerprint", 0, "sha256", "for stratum+ssl:// (or +tls://) pools: accept only this certificate",
       C::kText, set_fingerprint},
      {"tls-insecure", 0, nullptr, "for TLS pools: accept any certificate (not checked)", C::kSwitch,
       set_tls_insecure},
      {"pool-silence", 0, "s",
       "reconnect after s seconds without a byte from the pool (default " + seconds(defaults.pool_silence) + ")",
       C::kWholeNumber, set_seconds<&Options::pool_silence>},
      {"job-wait", 0, "s",
       "with backup pools: move on after s seconds without a job (default " + seconds(defaults.job_wait) + ")",
       C::kWholeNumber, set_seconds<&Options::job_wait>},
      {"probe-interval", 0, "s",
       "on a backup pool: try the first pool every s seconds (default " + seconds(defaults.probe_interval) + ")",
       C::kWholeNumber, set_seconds<&Options::probe_interval>},
      {"wallet", 'u', "address", "your Talmic address (ADDRESS.rig also accepted)", C::kText,
       set_text<&Options::wallet>},
      {"rig-id", 'w', "name", "worker name shown by the pool", C::kText, set_text<&Options::rig_id>},
      {"password", 'p', kDefaultPassword, std::string("pool password (default ") + kDefaultPassword + ")", C::kText,
       set_text<&Options::password>},
      {"threads", 't', "n", "mining threads (default: all logical CPUs)", C::kWholeNumber, set_threads},
      {"lanes", 0, "n|auto",
       "nonces each thread hashes side by side, 1 to " + std::to_string(kTlmMaxLanes) +
           " (default auto: the fastest, measured at start)",
       C::kWholeNumberOrText, set_lanes},
      {"stats-file", 0, "f", "write JSON stats every 10 s", C::kText, set_text<&Options::stats_file>},
      {"log-file", 0, "f", "append the log to f too, without colour; SIGUSR1 reopens it", C::kText,
       set_text<&Options::log_file>},
      {"color", 0, nullptr, "colour even when the output is not a terminal", C::kSwitch, set_color<true>},
      {"no-color", 0, nullptr, "plain output (also with NO_COLOR set)", C::kSwitch, set_color<false>},
      {"kernel", 0, "name", "force a hash kernel: avx512, avx2, avx, sse4.1, neon or portable", C::kText,
       set_text<&Options::kernel>},
      {"config", 0, "file", "read options from a JSON file (the command line wins)", C::kNone, read_config},
      {"api", 0, "host:port", "monitoring API: GET /summary, GET /metrics", C::kText, set_api},
      {"api-token", 0, "t", "require Authorization: Bearer <t> (needed beyond loopback)", C::kText,
       set_text<&Options::api_token>},
      {"version", 0, nullptr, "print the version", C::kNone, print_version},
      {"help", 'h', nullptr, "this help", C::kNone, print_help},
  };
}

}  // namespace

const std::vector<OptionSpec>& option_table() {
  static const std::vector<OptionSpec> table = make_table();
  return table;
}

const OptionSpec* find_option(const std::string& arg) {
  for (const OptionSpec& o : option_table()) {
    if (arg == std::string("--") + o.name || (o.short_name != 0 && arg == std::string{'-', o.short_name})) return &o;
  }
  return nullptr;
}

const OptionSpec* find_config_key(const std::string& key) {
  for (const OptionSpec& o : option_table())
    if (o.config != ConfigValue::kNone && key == o.name) return &o;
  return nullptr;
}

}  // namespace tlm
