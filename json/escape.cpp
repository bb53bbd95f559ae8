#include "json/json.h"

namespace tlm {

std::string json_escape(const std::string& s) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(s.size() + 8);
  for (char ch : s) {
    unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kDigits[c >> 4];
          out += kDigits[c & 15];
        } else {
          out += ch;
        }
    }
  }
  return out;
}

}  // namespace tlm
