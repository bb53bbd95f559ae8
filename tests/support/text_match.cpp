#include "tests/support/text_match.h"

#include <map>
#include <mutex>
#include <regex>

namespace testing_support {

namespace {

// Each pattern is compiled once: the process tests match every log line.
const std::regex& compiled(const std::string& pattern) {
  static std::mutex lock;
  static std::map<std::string, std::regex> cache;
  const std::lock_guard<std::mutex> hold(lock);
  auto it = cache.find(pattern);
  if (it == cache.end()) it = cache.emplace(pattern, std::regex(pattern)).first;
  return it->second;
}

}  // namespace

bool search(const std::string& text, const std::string& pattern, std::vector<std::string>* groups) {
  std::smatch m;
  if (!std::regex_search(text, m, compiled(pattern))) return false;
  if (groups != nullptr) groups->assign(m.begin(), m.end());
  return true;
}

std::string replace_all(const std::string& text, const std::string& pattern, const std::string& with) {
  return std::regex_replace(text, compiled(pattern), with);
}

}  // namespace testing_support
