// The tools as a user runs them: --help, --version and bad arguments answered as
// the miner answers them, tlm-bench's --threads 0, and the test pool's time stamps.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process.h"

namespace {

const std::string kHash = TLM_HASH_BINARY;
const std::string kBench = TLM_BENCH_BINARY;
const std::string kPool = TLM_TESTPOOL_BINARY;
const std::string kAnyText = R"([\s\S]*)";
const std::string kHelpEnd = kAnyText + "      --version            print the version\n"
                                        "  -h, --help               this help\n";
const std::string kStamp = R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )";

struct Case {
  std::vector<std::string> argv;
  int exit_code;
  std::string out;  // patterns the whole output must match
  std::string err;
};

TEST(ToolCommandLine, AnswersAsTheMinerDoes) {
  const Case cases[] = {
      {{kHash, "--version"}, 0, "tlm-hash " TLM_VERSION "\n", ""},
      {{kBench, "--version"}, 0, "tlm-bench " TLM_VERSION "\n", ""},
      {{kPool, "--version"}, 0, "tlm-testpool " TLM_VERSION "\n", ""},
      {{kHash, "--help"}, 0, R"(Usage: tlm-hash HEADERHEX\.\.\. \| -\n)" + kHelpEnd, ""},
      {{kBench, "-h"}, 0, R"(Usage: tlm-bench \[options\]\n[\s\S]*  -t, --threads <n> )" + kHelpEnd, ""},
      {{kPool, "--help"}, 0, R"(Usage: tlm-testpool \[options\]\n[\s\S]*\nFault modes:\n)" + kHelpEnd, ""},
      {{kHash}, 1, "", R"(Usage: tlm-hash HEADERHEX\.\.\. \| -\n)" + kHelpEnd},
      {{kBench, "--bogus"}, 1, "", R"(unknown option --bogus \(see --help\)\n)"},
      {{kBench, "--\x1b[2J"}, 1, "", R"(unknown option --\\x1b\[2J \(see --help\)\n)"},
      {{kPool, "stray"}, 1, "", R"(unknown option stray \(see --help\)\n)"},
      {{kPool, "--port"}, 1, "", "missing value for --port\n"},
      {{kPool, "--port", "65536"}, 1, "", "--port 65536: give a whole number from 0 to 65535\n"},
      {{kPool, "--tls-cert", "c.pem"}, 1, "", "--tls-cert and --tls-key go together\n"},
      {{kBench, "--kernel", ""}, 1, "", "--kernel needs a value that is not empty\n"},
      {{kBench, "--threads", "2x"}, 1, "", "--threads 2x: give a whole number from 0 to 1024\n"},
      {{kBench, "--lanes", "8,65"}, 1, "", "--lanes 65: give a whole number from 1 to 64\n"},
      {{kBench, "--seconds", "0"}, 1, "", R"(--seconds 0: give a number from 0\.001 to 3600\n)"},
  };
  for (const Case& c : cases) {
    const testing_support::Result r = testing_support::run({c.argv});
    const std::string what = c.argv.back();
    EXPECT_EQ(r.exit_code, c.exit_code) << what;
    EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << what << " printed:\n" << r.out;
    EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << what << " printed:\n" << r.err;
  }
}

TEST(ToolCommandLine, BenchThreadsZeroMeansAllLogicalCpus) {
  const testing_support::Result r =
      testing_support::run({{kBench, "--threads", "0", "--kernel", "portable", "--seconds", "0.1", "--json"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string threads = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_TRUE(std::regex_match(r.out, std::regex(R"(\{"kernel":"portable","threads":)" + threads + ",.*\n")))
      << r.out;
}

TEST(ToolCommandLine, TestPoolStampsItsLinesLikeTheMiner) {
  const testing_support::Result r = testing_support::run({{kPool, "--seconds", "0.05"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  const std::string lines = kStamp + R"(listening on 127\.0\.0\.1:\d+\n)" + kStamp + "job 1\n" + kStamp + "stopped\n";
  EXPECT_TRUE(std::regex_match(r.out, std::regex(lines))) << r.out;
}

}  // namespace
