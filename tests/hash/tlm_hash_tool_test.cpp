// The tlm-hash tool as a user runs it: headers as hex in, hashes out, and bad
// lines reported by number without stopping the others.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "hash/known_answer.h"
#include "hash/hex.h"
#include "tests/support/process.h"

namespace {

using tlm::bin_to_hex;
using testing_support::Result;

const std::string kHeaderHex = bin_to_hex(kat_hdr, tlm::kHeaderSize);
const std::string kHashLine = bin_to_hex(kat_hash, 32) + "\n";

// Runs tlm-hash - with `input` on its standard input.
Result run_with_input(const std::string& input) {
  return testing_support::run({{"/bin/sh", "-c", "printf %s \"$1\" | \"$0\" -", TLM_HASH_BINARY, input}});
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

  r = testing_support::run({{TLM_HASH_BINARY, "-"}});  // empty standard input: nothing to do
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
