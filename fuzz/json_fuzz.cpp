// Feeds arbitrary text to the JSON parser, and checks that any text survives
// escaping and parsing back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "json/json.h"

namespace {

// Walks a parsed tree the way the pool client does.
void visit(const ilvo::Json& v) {
  v.find("id");
  v.str("method", "");
  v.num("id", 0);
  for (const ilvo::Json& item : v.items) visit(item);
  for (const auto& member : v.members) visit(member.second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ilvo::Json value;
  if (ilvo::Json::parse(text, value)) visit(value);

  std::string literal = "\"";
  literal += ilvo::json_escape(text);
  literal += '"';
  ilvo::Json back;
  if (!ilvo::Json::parse(literal, back) || back.type != ilvo::Json::String || back.text != text) __builtin_trap();
  return 0;
}
