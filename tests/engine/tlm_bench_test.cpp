// tlm-bench run as users run it.

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace {

using testing_support::run_process;

TEST(TlmBench, SelfTestOfOneKernelAndItsJsonLine) {
  auto r = run_process({TLM_BENCH_BINARY, "--selftest", "--kernel", "sse4.1"}, {}, 120000);
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "selftest: 64 cases, 0 failed\n");

  r = run_process({TLM_BENCH_BINARY, "--kernel", "sse4.1", "--threads", "1", "--lanes", "4,8",
                   "--seconds", "0.2", "--json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.find("{\"kernel\":\"sse4.1\",\"threads\":1,\"lanes\":4,\"seconds\":"), 0u)
      << r.out;
  EXPECT_NE(r.out.find("\n{\"kernel\":\"sse4.1\",\"threads\":1,\"lanes\":8,"),
            std::string::npos);
  for (const char* key : {"\"hashes\":", "\"hs\":", "\"instructions_per_hash\":"}) {
    EXPECT_NE(r.out.find(key), std::string::npos) << key;
  }
}

TEST(TlmBench, BadArgumentsExitWithOneAndSayWhy) {
  const std::vector<std::vector<std::string>> bad = {
      {"--kernel", "neon"}, {"--kernel"}, {"--threads", "0"}, {"--lanes", "65"}, {"--lanes", "8,,16"},
      {"--seconds", "-1"}, {"--seconds", "nan"}, {"--frobnicate"}, {"--lanes"},
  };
  for (const auto& args : bad) {
    std::vector<std::string> argv = {TLM_BENCH_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    auto r = run_process(argv);
    EXPECT_EQ(r.exit_code, 1) << args[0];
    EXPECT_EQ(r.err.rfind("tlm-bench: ", 0), 0u) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
}

}  // namespace
