// Parsing that succeeds: what the options and a config file turn into, and the
// values the miner derives from them. Refusals are checked on the real program.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "app/cli/config_file.h"
#include "app/cli/options.h"
#include "app/cli/wallet.h"

namespace {

using tlm::Options;
using tlm::ParseResult;

ParseResult parse(std::vector<const char*> args, Options& opts) {
  args.insert(args.begin(), "ilvo-varnel-tlm");
  return tlm::parse(static_cast<int>(args.size()), args.data(), opts);
}

TEST(Options, DefaultsLoginAndValuesThatLookLikeOptions) {
  Options opts;
  ASSERT_EQ(parse({"-u", "-w", "-w", "--no-color"}, opts), ParseResult::kRun);
  EXPECT_EQ(tlm::host_port(opts.pool.host, opts.pool.port), "pool.ilvo-varnel.io:3352");
  EXPECT_EQ(opts.password, "x");
  EXPECT_EQ(std::tie(opts.pool_silence, opts.job_wait, opts.probe_interval),
            std::make_tuple(std::chrono::seconds(600), std::chrono::seconds(60), std::chrono::seconds(120)));
  EXPECT_EQ(tlm::pool_user(opts.wallet, opts.rig_id), "-w.--no-color");
  EXPECT_EQ(tlm::pool_user("ADDR.rigA", "rig1"), "ADDR.rigA");
}

TEST(Options, ThreadsUpToFourTimesTheCpusAndLanesAutoOr1To64) {
  const int32_t cpus = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  const std::string most = std::to_string(4 * cpus), too_many = std::to_string(4 * cpus + 1);
  const struct {
    std::vector<const char*> args;
    int32_t threads, lanes;
  } cases[] = {
      {{}, cpus, 0},  // lanes 0: auto, measured at start
      {{"-t", most.c_str(), "--lanes", "64"}, 4 * cpus, 64},
      {{"-t", "abc", "--lanes", "65"}, cpus, 0},
      {{"-t", "-4", "--lanes", "0"}, cpus, 0},
      {{"--lanes", "48", "--lanes", "auto"}, cpus, 0},
      {{"-t", too_many.c_str()}, -1, -1},  // refused
  };
  for (const auto& c : cases) {
    Options opts;
    std::vector<const char*> args = c.args;
    args.insert(args.end(), {"-u", "W"});
    ASSERT_EQ(parse(args, opts), c.threads < 0 ? ParseResult::kExitError : ParseResult::kRun);
    if (c.threads < 0) continue;
    EXPECT_EQ(std::make_pair(tlm::effective_threads(opts.threads), opts.lanes), std::make_pair(c.threads, c.lanes));
  }
}

TEST(Options, PoolAndBackupPoolAddresses) {
  const struct {
    const char* value;
    const char* shown;
    bool tls;
  } cases[] = {
      {"stratum+tcp://pool.example:4000", "pool.example:4000", false},
      {"[::1]:65535", "[::1]:65535", false},
      {"stratum+ssl://[fe80::1%lo]:1", "[fe80::1%lo]:1", true},
      {"stratum+tls://host:3352", "host:3352", true},
      {"a:b:7", "[a:b]:7", false},  // the last colon splits
  };
  for (const auto& c : cases) {
    Options opts;
    ASSERT_EQ(parse({"-u", "W", "-o", c.value, "--backup-pool", "first:1", "--backup-pool", c.value}, opts),
              ParseResult::kRun);
    ASSERT_EQ(opts.backup_pools.size(), 2u);
    EXPECT_EQ(tlm::host_port(opts.backup_pools[0].host, opts.backup_pools[0].port), "first:1");
    for (const auto& [host, port, tls] : {opts.pool, opts.backup_pools[1]}) {
      EXPECT_EQ(tlm::host_port(host, port), c.shown);
      EXPECT_EQ(tls, c.tls) << c.value;
    }
  }
}

// Every option but --config, --help and --version may come from a file; a key
// starting with // is a comment, and a switch set to false gives nothing.
TEST(Options, AConfigFileSetsEveryOption) {
  const std::string pin(64, 'a');
  tlm::ConfigArgs c;
  std::string error;
  ASSERT_TRUE(tlm::config_to_args(R"({"pool": "stratum+ssl://a.example:1", "backup-pool": ["b.example:2"],
      "tls-fingerprint": ")" + pin + R"(", "tls-insecure": true, "pool-silence": 30, "job-wait": 20,
      "probe-interval": 10, "wallet": "W", "rig-id": "r", "password": "p", "threads": 1, "lanes": 8,
      "stats-file": "s.json", "no-color": false, "kernel": "portable", "api": "[::1]:0", "api-token": "t",
      "// note": "ignored"})",
                                  c, error))
      << error;
  EXPECT_EQ(std::count(c.args.begin(), c.args.end(), "--no-color"), 0);
  EXPECT_EQ(c.keys[0], "pool");
  std::vector<const char*> args;
  for (const std::string& a : c.args) args.push_back(a.c_str());
  Options opts;
  ASSERT_EQ(parse(args, opts), ParseResult::kRun);
  using std::chrono::seconds;
  using S = std::string;
  EXPECT_EQ(std::tie(opts.pool.host, opts.pool.port, opts.pool.tls, opts.backup_pools[0].host, opts.tls_insecure,
                     opts.pool_silence, opts.job_wait, opts.probe_interval, opts.wallet, opts.rig_id, opts.password),
            std::make_tuple(S("a.example"), uint16_t{1}, true, S("b.example"), true, seconds(30), seconds(20),
                            seconds(10), S("W"), S("r"), S("p")));
  EXPECT_EQ(std::tie(opts.threads, opts.lanes, opts.stats_file, opts.kernel, opts.api_host, opts.api_port,
                     opts.api_token),
            std::make_tuple(1, 8, S("s.json"), S("portable"), S("::1"), uint16_t{0}, S("t")));
  tlm::Fingerprint pinned;
  pinned.fill(0xaa);
  EXPECT_EQ(opts.tls_fingerprint, pinned);
}

TEST(Options, LoopbackHosts) {
  for (const char* host : {"localhost", "127.0.0.1", "127.8.9.10", "::1"})
    EXPECT_TRUE(tlm::is_loopback_host(host)) << host;
  for (const char* host : {"0.0.0.0", "::", "10.0.0.1", "128.0.0.1", "::ffff:127.0.0.1", "example.org", ""})
    EXPECT_FALSE(tlm::is_loopback_host(host)) << host;
}

// Base58Check addresses made with Python's hashlib from version bytes 60 and 0.
TEST(Wallet, TalmicAddressesAre34Base58CharactersWithTheirChecksum) {
  const std::pair<const char*, bool> cases[] = {
      {"RLYVTgG9yMNJiTWyYii5eHLSZxxjESoWj9", true},
      {"R9HC5WtHbpoa51NCUAz86XLCmGTbkf45NT", true},
      {"RLYVTgG9yMNJiTWyYii5eHLSZxxjESoWj2", false},   // checksum off by its last character
      {"112D2adLM3UKy4Z4giRbReR6gjWuvHUqB", false},    // a valid checksum, but 33 characters
      {"RLYVTgG9yMNJiTWyYii5eHLSZxxjESoWl9", false},   // 'l' is no Base58 digit
      {"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz", false},   // more than 25 bytes
  };
  for (const auto& [text, valid] : cases) EXPECT_EQ(tlm::is_talmic_address(text), valid) << text;
}

}  // namespace
