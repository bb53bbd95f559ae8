// The tlm-hash tool as a user runs it: headers as hex in, hashes out, and bad
// lines reported by number without stopping the others.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>

#include "hash/known_answer.h"
#include "tests/support/hex.h"
#include "tests/support/process.h"

namespace {

using testing_support::hex;
using testing_support::Result;

const std::string kHeaderHex = hex(kat_hdr, 1487);
const std::string kHashLine = hex(kat_hash, 32) + "\n";

// Runs tlm-hash with `input` on its standard input.
Result run_with_input(const std::string& input) {
  const std::string path =
      ::testing::TempDir() + "tlm_hash_input_" + std::to_string(getpid()) + ".txt";
  std::ofstream(path, std::ios::binary) << input;
  Result r = testing_support::run({{"/bin/sh", "-c", "exec \"$0\" < \"$1\"", TLM_HASH_BINARY, path}});
  std::remove(path.c_str());
  return r;
}

TEST(TlmHashTool, HashesTheKnownAnswerHeader) {
  Result r = testing_support::run({{TLM_HASH_BINARY, kHeaderHex, kHeaderHex}});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kHashLine + kHashLine);
  EXPECT_EQ(r.err, "");

  std::string upper = kHeaderHex;
  for (char& c : upper) c = static_cast<char>(toupper(c));
  r = run_with_input(" \t" + upper + "\r\n");  // surrounding white space is ignored
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, kHashLine);

  r = testing_support::run({{TLM_HASH_BINARY}});  // empty standard input: nothing to do
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
}

TEST(TlmHashTool, BadLinesAreNamedAndSkipped) {
  std::string non_hex = kHeaderHex;
  non_hex[100] = 'g';
  Result r = run_with_input(kHeaderHex + "\n" + "abc\n" + non_hex + "\n" + kHeaderHex +
                                   "00\n" + kHeaderHex + "\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, kHashLine + kHashLine);
  EXPECT_EQ(r.err,
            "tlm-hash: line 2: expected 2974 hex digits, got 3 characters\n"
            "tlm-hash: line 3: not a hex digit at character 101\n"
            "tlm-hash: line 4: expected 2974 hex digits, got 2976 characters\n");

  r = testing_support::run({{TLM_HASH_BINARY, "xyz", kHeaderHex}});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, kHashLine);
  EXPECT_EQ(r.err, "tlm-hash: argument 1: expected 2974 hex digits, got 3 characters\n");
}

}  // namespace
