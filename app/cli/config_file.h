// The config file: one JSON object whose keys are the long option names, turned
// into the command-line arguments it stands for. Those go before the real
// arguments, so one option parser validates everything and the command line
// overrides the file.
#pragma once

#include <string>
#include <vector>

namespace tlm {

struct ConfigArgs {
  std::vector<std::string> args;  // e.g. "--wallet", "X", "--no-color"
  std::vector<std::string> keys;  // for each entry of `args`, the key it came from
};

// Turns the text of a config file into arguments. Strings become "--key value",
// true becomes "--key" (false: nothing), a whole number "--key N", an array of
// strings one "--key value" per element. Members whose key starts with "//" are
// comments. A syntax error gives "line L, column C: not one JSON object". On an
// unknown key, a key given twice or a value of the wrong type, returns false with
// `error` naming the key and what it expected.
bool config_to_args(const std::string& text, ConfigArgs& out, std::string& error);

// Reads the file at `path` and converts it as above. Every error message names
// the file: one that cannot be read, is over 64 KiB or is not one JSON object
// is refused too.
bool read_config_file(const std::string& path, ConfigArgs& out, std::string& error);

// The arguments the option parser gets: argv[0], then those of every "--config
// FILE" on the command line in order, then the rest of the command line.
// `origins` says for each argument where it came from: `"key" in config file
// FILE`, or empty for the command line. False with `error` set when a file is refused or
// "--config" has no value.
bool expand_config(int argc, const char* const* argv, std::vector<std::string>& args,
                   std::vector<std::string>& origins, std::string& error);

}  // namespace tlm
