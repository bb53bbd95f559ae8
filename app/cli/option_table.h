// Every option of the miner in one table, which the parser, the usage text, the
// config-file keys and the option fuzzer all read: an option cannot exist in one
// and be missing from another.
#pragma once

#include <string>
#include <vector>

namespace tlm {

struct Options;

// How a config file gives an option's value, under the option's long name.
enum class ConfigValue {
  kNone,         // not a config key
  kText,         // a string: "--name value"
  kSwitch,       // true or false: "--name" or nothing
  kWholeNumber,  // a whole number: "--name N"
  kTextList,     // an array of strings: "--name value" for each
  kWholeNumberOrText,  // either: "--name N" or "--name value"
};

// What the parser does next after an option.
enum class Next { kGoOn, kExitOk, kExitError };

struct OptionSpec {
  const char* name;        // the long name without its dashes: "pool" for --pool
  char short_name;         // 'o' for -o; 0 when there is none
  const char* value_name;  // how the usage text names the value; null for an option without one
  std::string help;        // the usage text's description
  ConfigValue config;
  // Applies the option as typed (`option`) with its value (null for an option
  // without one). A refused value is printed with the reason and gives kExitError.
  Next (*apply)(const char* option, const char* value, Options& opts);
};

// In the order of the usage text.
const std::vector<OptionSpec>& option_table();

// The row for an argument ("-o", "--pool"); null when no option is spelled so.
const OptionSpec* find_option(const std::string& arg);
// The row for a config-file key; null when no option may be set from a file so.
const OptionSpec* find_config_key(const std::string& key);

}  // namespace tlm
