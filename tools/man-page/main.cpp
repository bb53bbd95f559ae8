// tlm-man-page: writes the miner's manual page, ilvo-varnel-tlm(1), in roff to
// standard output. It runs at build time and reads the options and config keys
// from the miner's own option table, so the page lists exactly what the miner
// accepts.
#include <cstdio>
#include <string>

#include "app/cli/option_table.h"
#include "app/cli/options.h"
#include "app/console/product.h"

namespace {

using tlm::ConfigValue;
using tlm::OptionSpec;

// Text as roff shows it: backslashes and hyphens escaped, and a line that would
// start with a control character guarded.
std::string roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\e";
    else if (c == '-') out += "\\-";
    else out += c;
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
  return out;
}

std::string option_heading(const OptionSpec& o) {
  std::string text;
  if (o.short_name != 0) text += std::string("\\fB\\-") + o.short_name + "\\fR, ";
  text += "\\fB\\-\\-" + roff(o.name) + "\\fR";
  if (o.value_name != nullptr) text += " \\fI" + roff(o.value_name) + "\\fR";
  return text;
}

const char* config_kind(ConfigValue kind) {
  switch (kind) {
    case ConfigValue::kText: return "a string";
    case ConfigValue::kSwitch: return "true or false";
    case ConfigValue::kWholeNumber: return "a whole number";
    case ConfigValue::kTextList: return "an array of strings";
    case ConfigValue::kWholeNumberOrText: return "a whole number or a string";
    case ConfigValue::kNone: break;
  }
  return "";
}

void paragraph(const char* text) { printf(".PP\n%s\n", text); }

void item(const std::string& heading, const std::string& text) {
  printf(".TP\n%s\n%s\n", heading.c_str(), text.c_str());
}

}  // namespace

int main() {
  printf(".TH ILVO\\-VARNEL\\-TLM 1 \"\" \"%s %s\" \"User Commands\"\n", tlm::kProgramName, tlm::kVersion);
  printf(".SH NAME\n%s \\- %s\n", roff(tlm::kProgramName).c_str(), roff(tlm::kProductSubtitle).c_str());
  printf(".SH SYNOPSIS\n.B %s\n\\fB\\-\\-pool\\fR \\fIhost:port\\fR \\fB\\-\\-wallet\\fR \\fIaddress\\fR "
         "[\\fIoptions\\fR]\n.br\n.B %s\n\\fB\\-\\-config\\fR \\fIfile\\fR [\\fIoptions\\fR]\n",
         roff(tlm::kProgramName).c_str(), roff(tlm::kProgramName).c_str());

  printf(".SH DESCRIPTION\n");
  paragraph(
      "\\fBilvo\\-varnel\\-tlm\\fR mines the Talmic coin (TLM), whose proof of work is VerusHash 2.2, on the "
      "CPU. It connects to a Stratum pool (plain or TLS, with backup pools), hashes on every logical CPU with "
      "SIMD kernels, confirms each share with a reference hash before it submits it, and reports its speed "
      "on the console, in a statistics file and over an HTTP API (JSON and Prometheus).");
  paragraph(
      "One minute in every 100 minutes of uptime it mines for its developers' wallet (the 1% dev fee). It "
      "runs until it is stopped by a signal; a lost pool connection is retried, and backup pools are tried "
      "in turn.");

  printf(".SH OPTIONS\n");
  for (const OptionSpec& o : tlm::option_table()) item(option_heading(o), roff(o.help));

  printf(".SH CONFIG FILE\n");
  paragraph(
      "A config file, given with \\fB\\-\\-config\\fR, is one JSON object whose keys are long option names "
      "without their dashes. Its options come before those of the command line, so the command line wins. "
      "Keys that start with // are comments; an unknown key, a key given twice or a value of the wrong type "
      "is refused, with the file and the key named. The keys and their values:");
  for (const OptionSpec& o : tlm::option_table()) {
    if (o.config != ConfigValue::kNone) item("\\fB" + roff(o.name) + "\\fR", config_kind(o.config));
  }

  printf(".SH FILES\n");
  item("\\fI/etc/ilvo\\-varnel\\-tlm/config.json\\fR",
       "The config file of the systemd service \\fBilvo\\-varnel\\-tlm.service\\fR, which starts only once "
       "it exists.");
  item("\\fI/usr/share/doc/ilvo\\-varnel\\-tlm/examples/config.json\\fR", "An example config file.");
  item("\\fI/run/ilvo\\-varnel\\-tlm/stats.json\\fR",
       "Where the service's example config has the statistics file (\\fB\\-\\-stats\\-file\\fR) written.");

  printf(".SH EXIT STATUS\n");
  item("\\fB0\\fR", "Stopped by a signal, or after \\fB\\-\\-help\\fR or \\fB\\-\\-version\\fR.");
  item("\\fB1\\fR",
       "A usage error, a refused config file, a processor the miner cannot run on, or a failure at start "
       "(for example the monitoring API cannot listen).");

  printf(".SH SIGNALS\n");
  item("\\fBSIGINT\\fR, \\fBSIGTERM\\fR, \\fBSIGHUP\\fR",
       "Stop mining, close the pool connection and exit with status 0.");
  if (tlm::find_option("--log-file") != nullptr)
    item("\\fBSIGUSR1\\fR", "Reopens the log file given with \\fB\\-\\-log\\-file\\fR, for log rotation.");

  printf(".SH SEE ALSO\n\\fBsystemctl\\fR(1), \\fBjournalctl\\fR(1)\n");
  paragraph(
      "The README, \\fI/usr/share/doc/ilvo\\-varnel\\-tlm/README.md\\fR, and the package's tools "
      "\\fBtlm\\-hash\\fR (the VerusHash 2.2 of block headers) and \\fBtlm\\-bench\\fR (the hash rate of "
      "each kernel), which explain themselves with \\fB\\-\\-help\\fR.");
  return 0;
}
