// Parsing that succeeds, and the values the miner derives from the options.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "app/console.h"
#include "app/options.h"

namespace {

using ilvo::Options;
using ilvo::ParseResult;

ParseResult parse(std::vector<const char*> args, Options& opts) {
  args.insert(args.begin(), "ilvo-varnel-tlm");
  return ilvo::parse(static_cast<int>(args.size()), args.data(), opts);
}

TEST(Options, DefaultsAndLaterOccurrencesWin) {
  Options opts;
  ASSERT_EQ(parse({"-u", "A", "--wallet", "B", "-t", "3", "--lanes", "16", "--stats-file", "s.json"}, opts),
            ParseResult::kRun);
  EXPECT_EQ(opts.host, "pool.ilvo-varnel.io");
  EXPECT_EQ(opts.port, 3352);
  EXPECT_EQ(opts.wallet, "B");
  EXPECT_EQ(opts.password, "x");
  EXPECT_EQ(opts.threads, 3);
  EXPECT_EQ(opts.lanes, 16);
  EXPECT_EQ(opts.stats_file, "s.json");
}

TEST(Options, PoolAddress) {
  const struct {
    const char* value;
    const char* host;
    uint16_t port;
    bool tls;
  } cases[] = {
      {"stratum+tcp://pool.example:4000", "pool.example", 4000, false},
      {"[::1]:65535", "::1", 65535, false},
      {"stratum+ssl://[fe80::1%lo]:1", "fe80::1%lo", 1, true},
      {"stratum+tls://host:3352", "host", 3352, true},
      {"a:b:7", "a:b", 7, false},  // the last colon splits
  };
  for (const auto& c : cases) {
    Options opts;
    ASSERT_EQ(parse({"-u", "W", "-o", c.value}, opts), ParseResult::kRun) << c.value;
    EXPECT_EQ(opts.host, c.host);
    EXPECT_EQ(opts.port, c.port);
    EXPECT_EQ(opts.tls, c.tls);
  }
}

TEST(Options, BackupPoolsAndTlsChecks) {
  const std::string bare = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789abcdef";
  std::string pairs;
  for (size_t i = 0; i < bare.size(); i += 2) {
    if (i > 0) pairs += ':';
    pairs.append(bare, i, 2);
  }
  Options opts;
  ASSERT_EQ(parse({"-u", "W", "-o", "stratum+ssl://a:1", "-o", "b:2", "--backup-pool", "stratum+tls://c:3",
                   "--backup-pool", "d:4", "--tls-insecure", "--tls-fingerprint", bare.c_str()},
                  opts),
            ParseResult::kRun);
  EXPECT_FALSE(opts.tls);  // the later --pool has no scheme
  ASSERT_EQ(opts.backup_pools.size(), 2u);
  EXPECT_EQ(opts.backup_pools[0].host, "c");
  EXPECT_EQ(opts.backup_pools[0].port, 3);
  EXPECT_TRUE(opts.backup_pools[0].tls);
  EXPECT_EQ(opts.backup_pools[1].host, "d");
  EXPECT_EQ(opts.backup_pools[1].port, 4);
  EXPECT_FALSE(opts.backup_pools[1].tls);
  EXPECT_TRUE(opts.tls_insecure);
  ASSERT_TRUE(opts.tls_fingerprint);
  std::string upper = pairs;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  EXPECT_EQ(tlm::fingerprint_text(*opts.tls_fingerprint), upper);

  // The colon form in either case reads the same; anything else is refused.
  tlm::Fingerprint fp;
  EXPECT_TRUE(tlm::parse_fingerprint(pairs, fp) && fp == *opts.tls_fingerprint);
  std::string misplaced = pairs;
  std::swap(misplaced[2], misplaced[3]);
  for (const std::string& bad : {bare + "0", bare.substr(1), pairs.substr(1), misplaced, pairs + ":"}) {
    EXPECT_FALSE(tlm::parse_fingerprint(bad, fp)) << bad;
  }
}

TEST(Options, ThreadCountUpToFourTimesTheCpus) {
  const int32_t cpus = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  const std::string most = std::to_string(4 * cpus), too_many = std::to_string(4 * cpus + 1);
  Options opts;
  EXPECT_EQ(parse({"-u", "W", "-t", most.c_str()}, opts), ParseResult::kRun);
  EXPECT_EQ(opts.threads, 4 * cpus);
  EXPECT_EQ(parse({"-u", "W", "-t", too_many.c_str()}, opts), ParseResult::kExitError);
  EXPECT_EQ(parse({"-u", "W", "-t", "5x"}, opts), ParseResult::kRun);  // with a warning
  EXPECT_EQ(opts.threads, 5);
}

TEST(Options, ValuesMayLookLikeOptions) {
  Options opts;
  const char* args[] = {"ilvo-varnel-tlm", "-p", "--no-color", "-u", "-w", "-o", "h:1"};
  ilvo::g_color = true;
  ilvo::prescan_color(7, args);
  EXPECT_FALSE(ilvo::g_color);
  ilvo::g_color = true;
  ASSERT_EQ(ilvo::parse(7, args, opts), ParseResult::kRun);
  EXPECT_EQ(opts.password, "--no-color");
  EXPECT_EQ(opts.wallet, "-w");
}

TEST(Options, DerivedValues) {
  const int32_t cpus = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  Options opts;
  ASSERT_EQ(parse({"-u", "W", "-t", "abc", "--lanes", "65"}, opts), ParseResult::kRun);
  EXPECT_EQ(ilvo::effective_threads(opts.threads), cpus);
  EXPECT_EQ(opts.lanes, 32);
  EXPECT_EQ(ilvo::effective_threads(0), cpus);
  EXPECT_EQ(ilvo::effective_threads(-4), cpus);
  EXPECT_EQ(ilvo::effective_threads(5), 5);

  EXPECT_EQ(ilvo::pool_user("ADDR", "rig1"), "ADDR.rig1");
  EXPECT_EQ(ilvo::pool_user("ADDR.rigA", "rig1"), "ADDR.rigA");
  EXPECT_EQ(ilvo::pool_user("ADDR", ""), "ADDR");
}

}  // namespace
