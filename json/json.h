// A small JSON value with a strict parser and a string escaper, enough for the
// line-based pool protocol. There is no serializer: requests are written by
// concatenating fixed text with escaped strings.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tlm {

class Json {
 public:
  enum Type : int { Null = 0, Bool = 1, Number = 2, String = 3, Object = 4, Array = 5 };

  // Declared here and defaulted in the source: Json holds containers of itself,
  // which some standard libraries can only instantiate once Json is complete.
  Json();
  Json(const Json&);
  Json(Json&&) noexcept;
  Json& operator=(const Json&);
  Json& operator=(Json&&) noexcept;
  ~Json();

  Type type = Null;
  bool boolean = false;
  double number = 0;
  std::string text;                                  // unescaped, when String
  std::vector<Json> items;                           // when Array
  std::vector<std::pair<std::string, Json>> members;  // when Object, in document order

  // Parses `text` as exactly one JSON value, optionally surrounded by white space.
  // Returns false on any syntax error, on nesting deeper than 32 levels, on more
  // than 4096 values in all and on trailing characters; `out` is then partly filled and must not be used,
  // and `error_at`, when given, gets the offset of the byte where the text stopped making sense.
  static bool parse(const std::string& text, Json& out, size_t* error_at = nullptr);

  // The value of the first member named `key`, or null when this is not an
  // object or has no such member. The pointer lives as long as this value.
  const Json* find(const std::string& key) const;

  // The member's text when it exists and is a string, else `def`.
  std::string str(const std::string& key, const std::string& def) const;

  // The member's number when it exists and is a number, else `def`.
  double num(const std::string& key, double def) const;
};

// The body of a JSON string literal (without the quotes) that reads back as `s`.
// Quote, backslash and control bytes are escaped; every other byte, UTF-8 included,
// passes unchanged.
std::string json_escape(const std::string& s);

}  // namespace tlm
