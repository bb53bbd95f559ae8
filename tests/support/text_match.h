// Regular expressions for tests, behind functions compiled once: <regex> takes
// tens of seconds to compile in every file that uses it directly.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// True when `pattern` matches somewhere in `text` (anchor it with ^ and $ to match
// the whole); groups, when given, receives the whole match and each capture group.
bool search(const std::string& text, const std::string& pattern,
            std::vector<std::string>* groups = nullptr);
// `text` with every match of `pattern` replaced by `with`.
std::string replace_all(const std::string& text, const std::string& pattern,
                        const std::string& with);

}  // namespace testing_support
