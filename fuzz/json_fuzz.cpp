// Feeds arbitrary text to the JSON parser, and checks that any text survives
// escaping and parsing back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "json/json.h"

namespace {

// Walks a parsed tree the way the pool client does.
void visit(const tlm::Json& v) {
  v.find("id");
  v.str("method", "");
  v.num("id", 0);
  for (const tlm::Json& item : v.items) visit(item);
  for (const auto& member : v.members) visit(member.second);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  tlm::Json value;
  if (tlm::Json::parse(text, value)) visit(value);

  std::string literal = "\"";
  literal += tlm::json_escape(text);
  literal += '"';
  tlm::Json back;
  if (!tlm::Json::parse(literal, back) || back.type != tlm::Json::String || back.text != text) __builtin_trap();
  return 0;
}
