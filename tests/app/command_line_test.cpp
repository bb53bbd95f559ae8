// The command line as a user meets it: the real executable, its exact output and exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <utility>

#include "tests/support/process.h"
#include "tests/support/text_match.h"

namespace {

using testing_support::Result;

const std::string kBanner =
    "\n"
    "  ██╗██╗     ██╗   ██╗ ██████╗ \n"
    "  ██║██║     ██║   ██║██╔═══██╗   Ilvo Varnel TLM\n"
    "  ██║██║     ██║   ██║██║   ██║   Talmic CPU miner (VerusHash 2.2), 1% dev fee\n"
    "  ██║██║     ╚██╗ ██╔╝██║   ██║   1.1.0\n"
    "  ██║███████╗ ╚████╔╝ ╚██████╔╝\n"
    "  ╚═╝╚══════╝  ╚═══╝   ╚═════╝ \n"
    "\n";

// The options as --help names them: short name, long name and value.
const std::vector<std::string> kOptions = {
    "-o --pool <host:port>", "--backup-pool <url>", "--tls-fingerprint <sha256>", "--tls-insecure",
    "--pool-silence <s>",    "--job-wait <s>",      "--probe-interval <s>",       "-u --wallet <address>",
    "-w --rig-id <name>",    "-p --password <x>",   "-t --threads <n>",           "--lanes <n|auto>",
    "--stats-file <f>",      "--log-file <f>",      "--color",                    "--no-color",
    "--kernel <name>",       "--config <file>",
    "--api <host:port>",     "--api-token <t>",     "--version",                  "-h --help"};

// The options a usage text names, in its order, each as in kOptions. Every
// description starts in column 28: on its option's line, or on the next line when
// the option is too wide.
std::vector<std::string> usage_options(const std::string& usage) {
  const std::string head = "Usage: ilvo-varnel-tlm --pool HOST:PORT --wallet ADDRESS [options]\n\n";
  EXPECT_TRUE(usage.starts_with(head) && usage.ends_with("\n")) << usage;
  std::vector<std::string> options, m;
  for (size_t begin = head.size(), end; (end = usage.find('\n', begin)) != std::string::npos; begin = end + 1) {
    const std::string line = usage.substr(begin, end - begin);
    if (testing_support::search(line, R"(^  (?:(-[a-z]), |    )(--[a-z-]+(?: <[^>]+>)?)(?:( +)\S.*)?$)", &m)) {
      options.push_back(m[1].empty() ? m[2] : m[1] + " " + m[2]);
      EXPECT_TRUE(m[3].empty() || (m[3].size() >= 2 && line.find_first_not_of(' ', 6 + m[2].size()) == 27)) << line;
    } else {
      EXPECT_TRUE(testing_support::search(line, "^ {27}\\S")) << "not an option line: " << line;
    }
  }
  return options;
}

Result miner(std::vector<std::string> args) {
  args.insert(args.begin(), TLM_MINER_BINARY);
  return testing_support::run(args);
}

void expect_run(const std::vector<std::string>& args, int exit_code, const std::string& out, const std::string& err) {
  SCOPED_TRACE(testing::PrintToString(args));
  Result r = miner(args);
  EXPECT_EQ(r.exit_code, exit_code);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
}

// Later options are never reached; without a wallet the usage is printed too.
TEST(CommandLine, HelpVersionAndMissingWallet) {
  const Result help = miner({"-h"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.err, "");
  ASSERT_TRUE(help.out.starts_with(kBanner)) << help.out;
  EXPECT_EQ(usage_options(help.out.substr(kBanner.size())), kOptions);
  const std::string wallet = "--wallet is required\n";
  expect_run({"--help"}, 0, help.out, "");
  expect_run({"-u", "W", "-h", "--bogus"}, 0, help.out, "");
  expect_run({"--version", "--bogus"}, 0, "ilvo-varnel-tlm 1.1.0\n", "");
  expect_run({}, 1, help.out, wallet);
  expect_run({"-o", "pool.example:3352"}, 1, help.out, wallet);
}

TEST(CommandLine, BadArgumentsAreNamedWithTheirValue) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--pool=host:1", "-u", "W"}, "unknown option --pool=host:1 (see --help)\n"},
      {{"-uW"}, "unknown option -uW (see --help)\n"},
      {{"-u", "W", "--wallet"}, "missing value for --wallet\n"},
      {{"--bogus", "-h"}, "unknown option --bogus (see --help)\n"},  // an earlier bad option wins
      {{"-u", "W", "-o", "hostonly"}, "--pool needs host:port\n"},
      {{"-u", "W", "-o", ":3352"}, "-o :3352: the host is empty\n"},
      {{"-u", "W", "--pool", "host:0"}, "--pool host:0: the port must be 1 to 65535\n"},
      {{"-u", "W", "-o", "host:65536"}, "-o host:65536: the port must be 1 to 65535\n"},
      {{"-u", "W", "-o", "http://host:80"},
       "-o http://host:80: unknown scheme, use stratum+tcp://, stratum+ssl:// or stratum+tls://\n"},
      {{"-u", "W", "--backup-pool", "stratum+ssl://host"}, "--backup-pool needs host:port\n"},
      {{"-u", "W", "--tls-fingerprint", "ab:cd"},
       "--tls-fingerprint ab:cd: not a SHA-256 fingerprint (64 hex digits, colons allowed)\n"},
      {{"-u", "W", "-t", "4294967297"}, "-t 4294967297 does not fit in 32 bits\n"},
      {{"-u", "W\x01"}, "--wallet has a control character or invalid UTF-8\n"},
      {{"-u", "W", "-w", "rig\xff"}, "--rig-id has a control character or invalid UTF-8\n"},
      {{"-u", "W", "--api", "localhost"}, "--api localhost: give host:port with a port of 0 to 65535\n"},
      {{"-u", "W", "--api", "0.0.0.0:4068"}, "--api 0.0.0.0 listens beyond this machine: give --api-token too\n"},
      {{"-u", "W", "--config"}, "missing value for --config\n"},
      {{"-u", "YOUR_TALMIC_ADDRESS.rig1"},
       "--wallet YOUR_TALMIC_ADDRESS is the example's placeholder: give your Talmic address\n"},
      {{"-u", "W", "--tls-fingerprint", std::string(64, 'a')},
       "--tls-fingerprint needs a TLS pool (stratum+ssl://HOST:PORT)\n"},
      {{"-u", "W", "-o", "stratum+tcp://h:1", "--backup-pool", "h:2", "--tls-insecure"},
       "--tls-insecure needs a TLS pool (stratum+ssl://HOST:PORT)\n"},
      {{"-u", "W", "--backup-pool", "127.0.0.1:3352,127.0.0.1:3443"},
       "--backup-pool 127.0.0.1:3352,127.0.0.1:3443: one pool each time: repeat --backup-pool\n"},
      // Echoed with control characters escaped; a host no host name could be is refused.
      {{"--\x1b]0;title\a"}, "unknown option --\\x1B]0;title\\x07 (see --help)\n"},
      {{"-u", "W", "-t", "1\x9b", "--bogus"}, "warning: -t 1\\x9B is read as 1\nunknown option --bogus (see --help)\n"},
      {{"-u", "W", "--backup-pool", "stratum+ssl://\x1b[2J:1"},
       "--backup-pool stratum+ssl://\\x1B[2J:1: the host has a character no host name may contain\n"},
      {{"-u", "W", "-o", "pool.example/x:1"},
       "-o pool.example/x:1: the host has a character no host name may contain\n"},
      {{"-u", "W", "--pool-silence", "0"}, "--pool-silence 0: give a whole number of seconds from 1 to 86400\n"},
      {{"-u", "W", "--lanes", "100", "--lanes", "8x", "--bogus"},
       "warning: --lanes 100 is not auto or 1 to 64, using auto\nwarning: --lanes 8x is read as 8\n"
       "unknown option --bogus (see --help)\n"},
  };
  for (const auto& c : cases) expect_run(c.args, 1, kBanner, c.message);
}

// Doubtful values get a warning each; a log file that is a link or no regular file
// ends the start (and every row); a kernel is checked later, and shown escaped.
TEST(CommandLine, StartWarnsAboutDoubtfulValuesAndRefusesUnsafeLogFiles) {
  const testing_support::TempDir dir;
  const std::string link = dir.path + "/link.log", fifo = dir.path + "/fifo.log", conf = dir.path + "/t.json";
  std::ofstream(dir.path + "/victim") << "precious";
  ASSERT_EQ(symlink((dir.path + "/victim").c_str(), link.c_str()) | mkfifo(fifo.c_str(), 0600), 0);
  const unsigned cpus = std::max(1u, std::thread::hardware_concurrency());
  const std::string good = "RLYVTgG9yMNJiTWyYii5eHLSZxxjESoWj9", bad_sum = "RLYVTgG9yMNJiTWyYii5eHLSZxxjESoWj2";
  const std::string not_address = " is not a Talmic address (34 Base58 characters with a valid checksum)\n";
  const std::string too_many = "warning: --threads " + std::to_string(cpus + 1) + " is more than the " +
                               std::to_string(cpus) + " logical CPUs: the threads take turns";
  const std::string refused = "cannot open the log file ", not_regular = ": it is not a regular file\n";
  std::ofstream(conf) << "{\"threads\": " << cpus + 1 << ", \"log-file\": \"/dev/null\"}";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-u", good + ".rigA", "-t", "1", "--log-file", link}, refused + link + ": it is a symbolic link\n"},
      {{"-u", "R bad wallet", "--log-file", fifo}, "warning: --wallet R bad wallet" + not_address + refused + fifo +
                                                       not_regular},
      {{"-u", bad_sum, "--log-file", dir.path},
       "warning: --wallet " + bad_sum + not_address + refused + dir.path + not_regular},
      {{"-u", good + ".rigA", "-w", "rig7", "-t", "1x", "--log-file", dir.path + "/no/x.log"},
       "warning: -t 1x is read as 1\nwarning: --rig-id rig7 is ignored: the wallet " + good +
           ".rigA already names its worker\n" + refused + dir.path + "/no/x.log: No such file or directory\n"},
      {{"-u", good, "-t", std::to_string(cpus + 1), "--log-file", "/dev/null"},
       too_many + "\n" + refused + "/dev/null" + not_regular},
      {{"--config", conf, "-u", good}, too_many + " (set by \"threads\" in config file " + conf + ")\n" + refused +
                                           "/dev/null" + not_regular},
  };
  for (const auto& [args, err] : cases) expect_run(args, 1, kBanner, err);
  EXPECT_EQ(testing_support::read_file(dir.path + "/victim"), "precious");
  const Result r = miner({"-u", good, "--kernel", "avx\xc2\x9b" "3"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.err.starts_with("no kernel named 'avx\\xC2\\x9B3'; the kernels are ")) << r.err;
}

// "--version" last: a file wrongly accepted ends the run at once instead of mining.
TEST(CommandLine, ConfigFileErrorsNameTheFileAndKey) {
  const std::string dir = testing::TempDir(), path = dir + "command_line_config.json";
  const std::string in = "config file " + path + ": ";
  const std::pair<std::string, std::string> cases[] = {
      {R"({"config": "other.json"})", in + "unknown key \"config\""},
      {R"({"wallet": 5})", in + "\"wallet\" must be a string"},
      {R"({"wallet": "W\u0000X"})", in + "\"wallet\" must be a string"},
      {R"({"threads": "4"})", in + "\"threads\" must be a whole number"},
      {R"({"threads": 2.5})", in + "\"threads\" must be a whole number"},
      {R"({"threads": 1e300})", in + "\"threads\" must be a whole number"},
      {R"({"lanes": true})", in + "\"lanes\" must be a whole number or a string"},
      {R"({"job-wait": 0})", "--job-wait 0: give a whole number of seconds from 1 to 86400\n"
                             "(set by \"job-wait\" in config file " + path + ")"},
      {R"({"no-color": "yes"})", in + "\"no-color\" must be true or false"},
      {R"({"backup-pool": "b:1"})", in + "\"backup-pool\" must be an array of strings"},
      {R"({"pool": "a:1", "pool": "b:2"})", in + "\"pool\" is given twice"},
      {R"({"wallet": "W", "\u001b]0;title\u0007": 1})", in + "unknown key \"\\x1B]0;title\\x07\""},
      {R"({"wal\u0000let": "W"})", in + "unknown key \"wal\\x00let\""},
      {R"({"pool": "\u001b[2Jevil:1"})", "--pool \\x1B[2Jevil:1: the host has a character no host name may contain\n"
                                        "(set by \"pool\" in config file " + path + ")"},
      {R"(["--wallet", "W"])", in + "not one JSON object"},
      {R"({"wallet": "W"} {})", in + "line 1, column 17: not one JSON object"},
      {"", in + "line 1, column 1: not one JSON object"},
      {"{\n  \"wallet\": \"W\",\n}", in + "line 3, column 1: not one JSON object"},
      {"{\n  // the pool\n  \"wallet\": \"W\"\n}", in + "line 2, column 3: not one JSON object"},
      {"{\"wallet\": \"ü\" \"pool\": \"h:1\"}", in + "line 1, column 16: not one JSON object"},
      {"{\"wallet\": \"" + std::string(65537 - 14, 'W') + "\"}", in + "larger than 64 KiB"},
      {R"({"wallet": "W", "pool": "hostonly"})",
       "--pool needs host:port\n(set by \"pool\" in config file " + path + ")"},
  };
  for (const auto& [text, message] : cases) {
    std::ofstream(path) << text;
    expect_run({"--config", path, "-u", "W", "--version"}, 1, "", message + "\n");
  }
  std::ofstream(path) << R"({"wallet": "YOUR_TALMIC_ADDRESS"})";
  expect_run({"--config", path}, 1, kBanner,
             "the wallet is still the example's YOUR_TALMIC_ADDRESS: edit \"wallet\" in config file " + path +
                 " and put your Talmic address there\n");
  std::remove(path.c_str());
  expect_run({"--config", path, "--version"}, 1, "", in + "No such file or directory\n");
  const std::string fifo = dir + "command_line_config." + std::to_string(getpid()) + ".fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& special : {dir, fifo, std::string("/dev/null")})
    expect_run({"--config", special, "--version"}, 1, "", "config file " + special + ": not a regular file\n");
  std::remove(fifo.c_str());
}

}  // namespace
