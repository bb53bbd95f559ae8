// What a config file turns into, and every way it is refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/config_file.h"

namespace {

using ilvo::ConfigArgs;

TEST(ConfigFile, EveryKindOfValueBecomesItsArguments) {
  ConfigArgs c;
  std::string error;
  ASSERT_TRUE(ilvo::config_to_args(R"({"wallet": "W.rig", "threads": 4, "no-color": true, "tls-insecure": false,
      "backup-pool": ["b1:1", "b2:2"], "// note": "ignored", "api": "127.0.0.1:0", "rig-id": "-w"})",
                                   c, error))
      << error;
  EXPECT_EQ(c.args, (std::vector<std::string>{"--wallet", "W.rig", "--threads", "4", "--no-color", "--backup-pool",
                                              "b1:1", "--backup-pool", "b2:2", "--api", "127.0.0.1:0", "--rig-id",
                                              "-w"}));
  EXPECT_EQ(c.keys, (std::vector<std::string>{"wallet", "wallet", "threads", "threads", "no-color", "backup-pool",
                                              "backup-pool", "backup-pool", "backup-pool", "api", "api", "rig-id",
                                              "rig-id"}));
}

TEST(ConfigFile, RefusalsNameTheKeyAndWhatItExpects) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {R"({"wallet": "W", "lanes": 8})", R"(unknown key "lanes")"},
      {R"({"config": "other.json"})", R"(unknown key "config")"},
      {R"({"wallet": 5})", R"("wallet" must be a string)"},
      {R"({"wallet": "W\u0000X"})", R"("wallet" must be a string)"},
      {R"({"threads": "4"})", R"("threads" must be a whole number)"},
      {R"({"threads": 2.5})", R"("threads" must be a whole number)"},
      {R"({"threads": 1e300})", R"("threads" must be a whole number)"},
      {R"({"no-color": "yes"})", R"("no-color" must be true or false)"},
      {R"({"backup-pool": "b:1"})", R"("backup-pool" must be an array of strings)"},
      {R"({"backup-pool": ["b:1", 2]})", R"("backup-pool" must be an array of strings)"},
      {R"({"pool": "a:1", "pool": "b:2"})", R"("pool" is given twice)"},
      {R"(["--wallet", "W"])", "not one JSON object"},
      {R"({"wallet": "W"} {})", "not one JSON object"},
      {"", "not one JSON object"},
  };
  for (const auto& c : cases) {
    ConfigArgs out;
    std::string error;
    EXPECT_FALSE(ilvo::config_to_args(c.text, out, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(ConfigFile, FileErrorsNameTheFile) {
  const std::string dir = testing::TempDir();
  const std::string big = dir + "config_file_test_big.json";
  FILE* f = fopen(big.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fprintf(f, "{\"wallet\": \"%s\"}", std::string(70000, 'W').c_str());
  fclose(f);
  const std::pair<std::string, std::string> cases[] = {
      {dir, "config file " + dir + ": Is a directory"},
      {big, "config file " + big + ": larger than 64 KiB"},
  };
  for (const auto& [path, message] : cases) {
    ConfigArgs out;
    std::string error;
    EXPECT_FALSE(ilvo::read_config_file(path, out, error));
    EXPECT_EQ(error, message);
  }
  remove(big.c_str());
}

}  // namespace
