#include "app/cli/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/cli/option_table.h"
#include "app/console/printable.h"
#include "json/json.h"

namespace tlm {

namespace {

constexpr size_t kMaxFileSize = 64 * 1024;

// A NUL would silently cut the value once it becomes a C argument.
bool is_text(const Json& v) { return v.type == Json::String && v.text.find('\0') == std::string::npos; }

const char* expected(ConfigValue kind) {
  switch (kind) {
    case ConfigValue::kNone: break;
    case ConfigValue::kText: return "a string";
    case ConfigValue::kSwitch: return "true or false";
    case ConfigValue::kWholeNumber: return "a whole number";
    case ConfigValue::kTextList: return "an array of strings";
    case ConfigValue::kWholeNumberOrText: return "a whole number or a string";
  }
  return "";
}

// Appends the arguments for one member; false when the value has the wrong type.
bool add_member(const std::string& key, ConfigValue kind, const Json& value, ConfigArgs& out) {
  const std::string option = "--" + key;
  auto add = [&](const std::string& arg) {
    out.args.push_back(arg);
    out.keys.push_back(key);
  };
  switch (kind) {
    case ConfigValue::kNone: return false;
    case ConfigValue::kText:
      if (!is_text(value)) return false;
      add(option);
      add(value.text);
      return true;
    case ConfigValue::kSwitch:
      if (value.type != Json::Bool) return false;
      if (value.boolean) add(option);
      return true;
    case ConfigValue::kWholeNumber:
      if (value.type != Json::Number || value.number != std::trunc(value.number) || std::fabs(value.number) > 1e9)
        return false;
      add(option);
      add(std::to_string(static_cast<long>(value.number)));
      return true;
    case ConfigValue::kWholeNumberOrText:
      return add_member(key, value.type == Json::Number ? ConfigValue::kWholeNumber : ConfigValue::kText, value, out);
    case ConfigValue::kTextList:
      if (value.type != Json::Array) return false;
      for (const Json& item : value.items)
        if (!is_text(item)) return false;
      for (const Json& item : value.items) {
        add(option);
        add(item.text);
      }
      return true;
  }
  return false;
}

// "line L, column C" of the byte at `offset`, both from 1; the column counts
// characters (UTF-8 sequences), as an editor does.
std::string position(const std::string& text, size_t offset) {
  size_t line = 1, column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++line;
      column = 1;
    } else if ((c & 0xC0) != 0x80) {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

bool config_to_args(const std::string& text, ConfigArgs& out, std::string& error) {
  out = ConfigArgs{};
  Json doc;
  size_t error_at = 0;
  if (!Json::parse(text, doc, &error_at)) {
    error = position(text, error_at) + ": not one JSON object";
    return false;
  }
  if (doc.type != Json::Object) {
    error = "not one JSON object";
    return false;
  }
  for (size_t i = 0; i < doc.members.size(); ++i) {
    const auto& [key, value] = doc.members[i];
    if (key.compare(0, 2, "//") == 0) continue;
    const OptionSpec* known = find_config_key(key);
    if (!known) {
      error = "unknown key \"" + printable(key) + "\"";
      return false;
    }
    for (size_t j = 0; j < i; ++j) {
      if (doc.members[j].first == key) {
        error = "\"" + key + "\" is given twice";
        return false;
      }
    }
    if (!add_member(key, known->config, value, out)) {
      error = "\"" + key + "\" must be " + expected(known->config);
      return false;
    }
  }
  return true;
}

bool read_config_file(const std::string& path, ConfigArgs& out, std::string& error) {
  const std::string where = "config file " + path + ": ";
  // Without O_NONBLOCK a FIFO would hold the start until someone wrote to it.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    error = where + strerror(errno);
    if (fd >= 0) close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    error = where + "not a regular file";
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> file(fdopen(fd, "rb"), fclose);
  if (!file) {
    error = where + strerror(errno);
    close(fd);
    return false;
  }
  // One byte more than allowed tells a file that is too large from one that fits.
  std::string text(kMaxFileSize + 1, '\0');
  text.resize(fread(text.data(), 1, text.size(), file.get()));
  if (ferror(file.get())) {
    error = where + strerror(errno);
    return false;
  }
  if (text.size() > kMaxFileSize) {
    error = where + "larger than 64 KiB";
    return false;
  }
  if (!config_to_args(text, out, error)) {
    error = where + error;
    return false;
  }
  return true;
}

bool expand_config(int argc, const char* const* argv, std::vector<std::string>& args,
                   std::vector<std::string>& origins, std::string& error) {
  args.assign(1, argc > 0 ? argv[0] : "");
  origins.assign(1, "");
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--config") != 0) {
      rest.push_back(argv[i]);
      continue;
    }
    if (++i == argc) {
      error = "missing value for --config";
      return false;
    }
    ConfigArgs file;
    if (!read_config_file(argv[i], file, error)) return false;
    args.insert(args.end(), file.args.begin(), file.args.end());
    for (const std::string& key : file.keys) origins.push_back("\"" + key + "\" in config file " + argv[i]);
  }
  args.insert(args.end(), rest.begin(), rest.end());
  origins.resize(args.size());
  return true;
}

}  // namespace tlm
