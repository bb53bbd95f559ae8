#include "tools/command_line/command_line.h"

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tool_cli {

namespace {

// The description column of the usage text, as in the miner's; an option too
// wide for the space before it has its description on the next line.
constexpr size_t kHelpColumn = 27;

std::string usage_line(const ToolOption& o) {
  if (o.name == nullptr) return "\n" + o.help + ":\n";
  std::string left = o.short_name != 0 ? std::string("  -") + o.short_name + ", --" : std::string("      --");
  left += o.name;
  if (o.value_name != nullptr) left += std::string(" <") + o.value_name + ">";
  if (left.size() + 2 <= kHelpColumn) return left + std::string(kHelpColumn - left.size(), ' ') + o.help + "\n";
  return left + "\n" + std::string(kHelpColumn, ' ') + o.help + "\n";
}

bool is_named(const ToolOption& o, const std::string& arg) {
  return o.name != nullptr &&
         (arg == std::string("--") + o.name || (o.short_name != 0 && arg == std::string{'-', o.short_name}));
}

}  // namespace

std::string usage(const Tool& tool) {
  std::string text = std::string("Usage: ") + tool.name + " " + tool.synopsis + "\n";
  if (tool.about[0] != '\0') text += std::string("\n") + tool.about + "\n";
  text += "\n";
  bool headings = false;
  for (const ToolOption& o : tool.options) {
    text += usage_line(o);
    headings |= o.name == nullptr;
  }
  if (headings) text += "\n";  // --version and --help are in no group
  text += usage_line({"version", 0, nullptr, "print the version", nullptr});
  text += usage_line({"help", 'h', nullptr, "this help", nullptr});
  return text;
}

Parsed parse(const Tool& tool, int argc, const char* const* argv, std::vector<std::string>* operands) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (tool.operands && (arg[0] != '-' || arg == "-")) {
      operands->push_back(arg);
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      fputs(usage(tool).c_str(), stdout);
      return Parsed::kExitOk;
    }
    if (arg == "--version") {
      printf("%s %s\n", tool.name, TLM_TOOLS_VERSION);
      return Parsed::kExitOk;
    }
    const char* typed = argv[i];
    const ToolOption* option = nullptr;
    for (const ToolOption& o : tool.options)
      if (is_named(o, arg)) option = &o;
    if (option == nullptr) {
      print_error("unknown option %s (see --help)", typed);
      return Parsed::kExitError;
    }
    const char* value = nullptr;
    if (option->value_name != nullptr) {
      if (i + 1 >= argc) {
        print_error("missing value for %s", typed);
        return Parsed::kExitError;
      }
      value = argv[++i];
    }
    if (!option->apply(typed, value)) return Parsed::kExitError;
  }
  return Parsed::kRun;
}

void print_error(const char* fmt, ...) {
  char text[1024];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  std::string shown;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c != 0x7f) {
      shown += *p;
      continue;
    }
    char escaped[5];
    snprintf(escaped, sizeof escaped, "\\x%02x", c);
    shown += escaped;
  }
  fprintf(stderr, "%s\n", shown.c_str());
}

bool read_whole(const char* option, const char* value, long long lo, long long hi, long long& out) {
  char* end = nullptr;
  errno = 0;
  const long long n = strtoll(value, &end, 10);
  if (end == value || *end != '\0' || errno != 0 || n < lo || n > hi) {
    print_error("%s %s: give a whole number from %lld to %lld", option, value, lo, hi);
    return false;
  }
  out = n;
  return true;
}

bool read_decimal(const char* option, const char* value, double lo, double hi, double& out) {
  char* end = nullptr;
  errno = 0;
  const double v = strtod(value, &end);
  if (end == value || *end != '\0' || errno != 0 || !std::isfinite(v) || v < lo || v > hi) {
    print_error("%s %s: give a number from %g to %g", option, value, lo, hi);
    return false;
  }
  out = v;
  return true;
}

Apply set_flag(bool& field) {
  return [&field](const char*, const char*) { return field = true; };
}

Apply set_text(std::string& field) {
  return [&field](const char*, const char* value) {
    field = value;
    return true;
  };
}

Apply set_nonempty_text(std::string& field) {
  return [&field](const char* option, const char* value) {
    field = value;
    if (!field.empty()) return true;
    print_error("%s needs a value that is not empty", option);
    return false;
  };
}

Apply set_decimal(double& field, double lo, double hi) {
  return [&field, lo, hi](const char* option, const char* value) { return read_decimal(option, value, lo, hi, field); };
}

}  // namespace tool_cli
