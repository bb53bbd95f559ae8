// The command line: options, usage text, validation and the values derived from them.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "stratum/fingerprint.h"
#include "stratum/pool_address.h"

namespace tlm {

inline constexpr const char* kProgramName = "ilvo-varnel-tlm";
inline constexpr const char* kDefaultHost = "pool.ilvo-varnel.io";
inline constexpr uint16_t kDefaultPort = 3352;
inline constexpr const char* kDefaultPassword = "x";

struct Options {
  PoolAddress pool{kDefaultHost, kDefaultPort, false};
  std::vector<PoolAddress> backup_pools;  // in order of preference
  std::string wallet;
  std::string rig_id;
  std::string password = kDefaultPassword;
  int32_t threads = 0;  // 0: all logical CPUs
  int32_t lanes = 0;  // 0: auto, the fastest measured at start
  std::string stats_file;
  std::string log_file;  // empty: log lines go to standard output alone
  std::string kernel;  // a hash kernel to use instead of the widest this machine runs
  std::optional<Fingerprint> tls_fingerprint;  // the only certificate TLS pools may show
  bool tls_insecure = false;                    // accept any certificate
  std::string api_host;   // empty: no monitoring API
  uint16_t api_port = 0;  // 0: one the system picks
  std::string api_token;
  // Longest time without a byte from the pool before reconnecting.
  std::chrono::seconds pool_silence;
  // With backup pools: longest time without a job before moving on.
  std::chrono::seconds job_wait;
  // On a backup pool: how often the first pool is tried again.
  std::chrono::seconds probe_interval;

  Options();  // the pool client's own defaults for the three times
};

// What the entry point does after parse().
enum class ParseResult { kRun, kExitOk, kExitError };

// Sets g_color before the banner: from the last argument that is exactly "--color"
// or "--no-color" (even the value of another option), else off when NO_COLOR is
// set to a non-empty value, TERM is "dumb" or standard output is no terminal.
void prescan_color(int argc, const char* const* argv);

// True when the parser will reach --version before -h, --help or an unknown
// option: the one-line answer then comes without the banner.
bool asks_version(int argc, const char* const* argv);

// Fills `opts` from the arguments, as the option table says. Usage errors are
// printed (what is wrong to standard error, and the usage text to standard output
// when a required option is missing) and give kExitError; -h/--help prints the
// usage text and --version the product name and version, and both give kExitOk.
// A value read leniently (a thread or lane count that is not a number or out of
// range) gets a warning on standard error naming the option and the value, and
// so do more threads than logical CPUs, a wallet that is no Talmic address and a
// rig id the wallet's own overrides. The example config's placeholder wallet and
// a TLS option without a TLS pool are refused.
// `origins`, when given, says for each argument where it came from (see
// expand_config); a refused value from a config file is then named by its key.
ParseResult parse(int argc, const char* const* argv, Options& opts, const std::vector<std::string>& origins = {});

// The usage text with the program name filled in: every option of the table.
std::string usage_text();

// True for "localhost" and the loopback addresses 127.0.0.0/8 and ::1: only
// there may the monitoring API listen without a token.
bool is_loopback_host(const std::string& host);

// Thread count: `threads` when positive, else the logical CPU count (at least 1).
int32_t effective_threads(int32_t threads);
// Pool login: the wallet, with ".rig_id" appended unless the wallet already names
// its worker (contains a dot) or there is no rig id.
std::string pool_user(const std::string& wallet, const std::string& rig_id);

}  // namespace tlm
