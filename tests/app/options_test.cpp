// Parsing that succeeds: what the options and a config file turn into, and the
// values the miner derives from them. Refusals are checked on the real program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "app/cli/config_file.h"
#include "app/cli/options.h"

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
  EXPECT_EQ(tlm::host_port(opts.host, opts.port), "pool.ilvo-varnel.io:3352");
  EXPECT_EQ(opts.password, "x");
  EXPECT_EQ(tlm::pool_user(opts.wallet, opts.rig_id), "-w.--no-color");
  EXPECT_EQ(tlm::pool_user("ADDR.rigA", "rig1"), "ADDR.rigA");
}

TEST(Options, ThreadsUpToFourTimesTheCpusAndLanes1To64) {
  const int32_t cpus = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  const std::string most = std::to_string(4 * cpus), too_many = std::to_string(4 * cpus + 1);
  const struct {
    std::vector<const char*> args;
    int32_t threads, lanes;
  } cases[] = {
      {{}, cpus, 32},
      {{"-t", most.c_str(), "--lanes", "64"}, 4 * cpus, 64},
      {{"-t", "5x", "--lanes", "1"}, 5, 1},  // read as before, with a warning
      {{"-t", "abc", "--lanes", "65"}, cpus, 32},
      {{"-t", "-4", "--lanes", "0"}, cpus, 32},
  };
  for (const auto& c : cases) {
    Options opts;
    std::vector<const char*> args = c.args;
    args.insert(args.end(), {"-u", "W"});
    ASSERT_EQ(parse(args, opts), ParseResult::kRun);
    EXPECT_EQ(tlm::effective_threads(opts.threads), c.threads);
    EXPECT_EQ(opts.lanes, c.lanes);
  }
  Options opts;
  EXPECT_EQ(parse({"-u", "W", "-t", too_many.c_str()}, opts), ParseResult::kExitError);
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
    for (const auto& [host, port, tls] : {tlm::PoolAddress{opts.host, opts.port, opts.tls}, opts.backup_pools[1]}) {
      EXPECT_EQ(tlm::host_port(host, port), c.shown);
      EXPECT_EQ(tls, c.tls) << c.value;
    }
  }
}

TEST(Options, EveryKindOfConfigValueBecomesItsArguments) {
  tlm::ConfigArgs c;
  std::string error;
  ASSERT_TRUE(tlm::config_to_args(R"({"wallet": "W.rig", "threads": 4, "no-color": true, "tls-insecure": false,
      "backup-pool": ["b1:1", "b2:2"], "// note": "ignored", "rig-id": "-w"})",
                                   c, error))
      << error;
  EXPECT_EQ(c.args, (std::vector<std::string>{"--wallet", "W.rig", "--threads", "4", "--no-color", "--backup-pool",
                                              "b1:1", "--backup-pool", "b2:2", "--rig-id", "-w"}));
  EXPECT_EQ(c.keys, (std::vector<std::string>{"wallet", "wallet", "threads", "threads", "no-color", "backup-pool",
                                              "backup-pool", "backup-pool", "backup-pool", "rig-id", "rig-id"}));
}

TEST(Options, LoopbackHosts) {
  for (const char* host : {"localhost", "127.0.0.1", "127.8.9.10", "::1"})
    EXPECT_TRUE(tlm::is_loopback_host(host)) << host;
  for (const char* host : {"0.0.0.0", "::", "10.0.0.1", "128.0.0.1", "::ffff:127.0.0.1", "example.org", ""})
    EXPECT_FALSE(tlm::is_loopback_host(host)) << host;
}

}  // namespace
