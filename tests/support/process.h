// Runs a program as a user would and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  int exit_code = -1;  // -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs argv[0] with the given arguments, standard input from /dev/null and the
// environment changed by `env`: "NAME=value" sets, "-NAME" removes. Kills it after
// timeout_ms.
ProcessResult run_process(const std::vector<std::string>& argv,
                          const std::vector<std::string>& env = {}, int timeout_ms = 20000);

// Same, but standard output is a pseudo-terminal; `out` is what appeared on it.
ProcessResult run_in_terminal(const std::vector<std::string>& argv,
                              const std::vector<std::string>& env = {}, int timeout_ms = 20000);

}  // namespace testing_support
