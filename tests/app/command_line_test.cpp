// The command line as a user meets it: the real executable, its exact output and exit code.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/process.h"

namespace {

using testing_support::ProcessResult;
using testing_support::run_process;

const std::string kBanner =
    "\n"
    "  ██╗██╗     ██╗   ██╗ ██████╗ \n"
    "  ██║██║     ██║   ██║██╔═══██╗   Ilvo Varnel TLM\n"
    "  ██║██║     ██║   ██║██║   ██║   Talmic CPU miner (VerusHash 2.2), 1% dev fee\n"
    "  ██║██║     ╚██╗ ██╔╝██║   ██║   1.1.0\n"
    "  ██║███████╗ ╚████╔╝ ╚██████╔╝\n"
    "  ╚═╝╚══════╝  ╚═══╝   ╚═════╝ \n"
    "\n";

const std::string kUsage =
    "Usage: ilvo-varnel-tlm --pool HOST:PORT --wallet ADDRESS [options]\n"
    "\n"
    "  -o, --pool <host:port>   stratum pool (default pool.ilvo-varnel.io:3352, stratum+tcp:// prefix accepted)\n"
    "  -u, --wallet <address>   your Talmic address (ADDRESS.rig also accepted)\n"
    "  -w, --rig-id <name>      worker name shown by the pool\n"
    "  -p, --password <x>       pool password (default x)\n"
    "  -t, --threads <n>        mining threads (default: all logical CPUs)\n"
    "      --stats-file <f>     write JSON stats every 10 s\n"
    "      --no-color           plain output\n"
    "  -h, --help               this help\n";

ProcessResult miner(std::vector<std::string> args) {
  args.insert(args.begin(), TLM_MINER_BINARY);
  return run_process(args);
}

void expect_usage_error(const std::vector<std::string>& args) {
  SCOPED_TRACE(testing::PrintToString(args));
  ProcessResult r = miner(args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, kBanner + kUsage);
  EXPECT_EQ(r.err, "");
}

void expect_message(const std::vector<std::string>& args, const std::string& message) {
  SCOPED_TRACE(testing::PrintToString(args));
  ProcessResult r = miner(args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, kBanner);
  EXPECT_EQ(r.err, message);
}

TEST(CommandLine, HelpPrintsBannerThenUsageAndSucceeds) {
  for (const char* flag : {"-h", "--help"}) {
    ProcessResult r = miner({flag});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kBanner + kUsage);
    EXPECT_EQ(r.err, "");
  }
  // Later options are never reached.
  EXPECT_EQ(miner({"-u", "W", "-h", "--bogus"}).exit_code, 0);
}

TEST(CommandLine, MissingHostPortOrWalletPrintsUsage) {
  expect_usage_error({});
  expect_usage_error({"-o", "pool.example:3352"});
  expect_usage_error({"-u", "W", "-o", ":3352"});
  expect_usage_error({"-u", "W", "-o", "host:0"});
  expect_usage_error({"-u", "W", "-o", "host:abc"});
  // Ports that do not fit 1..65535 are refused, not truncated to another port.
  expect_usage_error({"-u", "W", "-o", "host:65536"});
  expect_usage_error({"-u", "W", "-o", "host:70000"});
  expect_usage_error({"-u", "W", "-o", "host:-1"});
  // Only stratum+tcp:// is a scheme; any other leaves "http" as the host and no port.
  expect_usage_error({"-u", "W", "-o", "http://host"});
}

TEST(CommandLine, BadArgumentsGiveTheirMessage) {
  expect_message({"--bogus"}, "unknown option --bogus (see --help)\n");
  expect_message({"--pool=host:1", "-u", "W"}, "unknown option --pool=host:1 (see --help)\n");
  expect_message({"-uW"}, "unknown option -uW (see --help)\n");
  expect_message({"-u", "W", "--wallet"}, "missing value for --wallet\n");
  expect_message({"-u", "W", "-o", "hostonly"}, "--pool needs host:port\n");
  expect_message({"-u", "W", "-o", "stratum+tcp://"}, "--pool needs host:port\n");
  // An earlier bad option wins over a later -h.
  expect_message({"--bogus", "-h"}, "unknown option --bogus (see --help)\n");
}

}  // namespace
