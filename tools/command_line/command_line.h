// The command line of the tools (tlm-hash, tlm-bench, tlm-testpool), shaped and
// worded like the miner's: one table of options that both the parser and the
// usage text read, --help and --version on every tool, and the miner's messages
// for an unknown option or a missing value.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tool_cli {

// Applies an option as typed (`option`) with its value (null for an option
// without one). A refused value is printed with the reason and gives false.
using Apply = std::function<bool(const char* option, const char* value)>;

struct ToolOption {
  const char* name;        // the long name without its dashes; null for a heading of the usage text
  char short_name;         // 0 when there is none
  const char* value_name;  // how the usage text names the value; null for an option without one
  std::string help;        // the usage text's description, or the heading
  Apply apply;
};

struct Tool {
  const char* name;      // "tlm-hash"
  const char* synopsis;  // what follows the name on the usage line
  const char* about;     // a paragraph after the usage line; may be empty
  std::vector<ToolOption> options;
  // Whether arguments that are no option ("-", or not starting with "-") are
  // operands; otherwise they are unknown options.
  bool operands = false;
};

enum class Parsed { kRun, kExitOk, kExitError };

// Reads argv[1..argc-1] left to right; a value is the next argument whatever it
// looks like. -h/--help prints the usage text to standard output, --version the
// tool's name and version; both give kExitOk. Errors go to standard error.
Parsed parse(const Tool& tool, int argc, const char* const* argv, std::vector<std::string>* operands = nullptr);

// "Usage: NAME SYNOPSIS", the paragraph, then every option, --version and --help.
std::string usage(const Tool& tool);

// One line on standard error, with control characters shown as \xNN.
void print_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Decimal numbers from lo to hi, the whole text; otherwise prints
// "OPTION VALUE: give ..." and returns false.
bool read_whole(const char* option, const char* value, long long lo, long long hi, long long& out);
bool read_decimal(const char* option, const char* value, double lo, double hi, double& out);

// Appliers for the common kinds of option.
Apply set_flag(bool& field);
Apply set_text(std::string& field);
Apply set_nonempty_text(std::string& field);  // an empty value is refused
Apply set_decimal(double& field, double lo, double hi);

template <typename T>
Apply set_whole(T& field, long long lo, long long hi) {
  return [&field, lo, hi](const char* option, const char* value) {
    long long n = 0;
    if (!read_whole(option, value, lo, hi, n)) return false;
    field = static_cast<T>(n);
    return true;
  };
}

}  // namespace tool_cli
