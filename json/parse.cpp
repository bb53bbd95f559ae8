// Recursive-descent parser for tlm::Json. Nesting is capped at 32 levels so a
// hostile line cannot exhaust the stack, and the number of values at 4096 so a
// line of a mebibyte cannot become a tree fifty times its size.
#include <cstdlib>
#include <cstring>

#include "json/json.h"

namespace tlm {

namespace {

constexpr int kMaxDepth = 32;
// A pool message has a few dozen values; each costs sizeof(Json) (about 100 bytes).
constexpr int kMaxValues = 4096;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, unsigned cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

class Parser {
 public:
  Parser(const char* begin, const char* end) : pos(begin), end(end) {}

  bool value_inner(Json& out);
  bool string(std::string& out);

  void skip_space() {
    while (pos < end && (*pos == ' ' || *pos == '\t' || *pos == '\n' || *pos == '\r')) ++pos;
  }
  bool at_end() const { return pos == end; }
  const char* cursor() const { return pos; }

 private:
  bool array(Json& out);
  bool object(Json& out);
  bool keyword(const char* word);
  bool number(Json& out);
  // Reads four hex digits at the cursor into `unit`; false when they are not there.
  bool code_unit(unsigned& unit);
  // Enters one nesting level for a child value; false past the limit.
  bool descend() { return ++depth <= kMaxDepth; }

  const char* pos;
  const char* end;
  int depth = 1;
  int values_left = kMaxValues;
};

bool Parser::value_inner(Json& out) {
  skip_space();
  if (pos == end || --values_left < 0) return false;
  switch (*pos) {
    case '"':
      out.type = Json::String;
      return string(out.text);
    case '[':
      return array(out);
    case '{':
      return object(out);
    case 't':
      out.type = Json::Bool;
      out.boolean = true;
      return keyword("true");
    case 'f':
      out.type = Json::Bool;
      return keyword("false");
    case 'n':
      return keyword("null");
    default:
      return number(out);
  }
}

bool Parser::keyword(const char* word) {
  size_t n = strlen(word);
  if (static_cast<size_t>(end - pos) < n || memcmp(pos, word, n) != 0) return false;
  pos += n;
  return true;
}

// The number grammar of RFC 8259: -? (0 | [1-9][0-9]*) (.[0-9]+)? ([eE][+-]?[0-9]+)?
bool Parser::number(Json& out) {
  const char* start = pos;
  const auto digits = [&] {
    const char* first = pos;
    while (pos < end && is_digit(*pos)) ++pos;
    return pos > first;
  };
  if (pos < end && *pos == '-') ++pos;
  if (pos < end && *pos == '0') {
    ++pos;
  } else if (!digits()) {
    return false;
  }
  if (pos < end && *pos == '.') {
    ++pos;
    if (!digits()) return false;
  }
  if (pos < end && (*pos == 'e' || *pos == 'E')) {
    ++pos;
    if (pos < end && (*pos == '+' || *pos == '-')) ++pos;
    if (!digits()) return false;
  }
  out.type = Json::Number;
  // strtod needs a terminated copy of exactly the number (it would read "0x10").
  std::string taken(start, pos);
  out.number = strtod(taken.c_str(), nullptr);
  return true;
}

bool Parser::array(Json& out) {
  out.type = Json::Array;
  ++pos;
  skip_space();
  if (pos < end && *pos == ']') {
    ++pos;
    return true;
  }
  for (;;) {
    if (!descend()) return false;
    Json item;
    if (!value_inner(item)) return false;
    --depth;
    out.items.push_back(std::move(item));
    skip_space();
    if (pos == end) return false;
    char c = *pos++;
    if (c == ']') return true;
    if (c != ',') {
      --pos;  // the error is at the character, not after it
      return false;
    }
  }
}

bool Parser::object(Json& out) {
  out.type = Json::Object;
  ++pos;
  skip_space();
  if (pos < end && *pos == '}') {
    ++pos;
    return true;
  }
  for (;;) {
    skip_space();
    std::string key;
    if (!string(key)) return false;
    skip_space();
    if (pos == end || *pos != ':') return false;
    ++pos;
    if (!descend()) return false;
    Json value;
    if (!value_inner(value)) return false;
    --depth;
    out.members.emplace_back(std::move(key), std::move(value));
    skip_space();
    if (pos == end) return false;
    char c = *pos++;
    if (c == '}') return true;
    if (c != ',') {
      --pos;  // the error is at the character, not after it
      return false;
    }
  }
}

bool Parser::code_unit(unsigned& unit) {
  if (end - pos < 4) return false;
  unit = 0;
  for (int i = 0; i < 4; ++i) {
    int v = hex_value(pos[i]);
    if (v < 0) return false;
    unit = unit * 16 + static_cast<unsigned>(v);
  }
  pos += 4;
  return true;
}

bool Parser::string(std::string& out) {
  if (pos == end || *pos != '"') return false;
  out.clear();
  ++pos;
  for (;;) {
    if (pos == end) return false;
    char c = *pos++;
    if (c == '"') return true;
    if (c != '\\') {
      out += c;
      continue;
    }
    if (pos == end) return false;
    char e = *pos++;
    switch (e) {
      case '"': out += '"'; break;
      case '\\': out += '\\'; break;
      case '/': out += '/'; break;
      case 'b': out += '\b'; break;
      case 'f': out += '\f'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'u': {
        unsigned unit;
        if (!code_unit(unit)) return false;
        if (unit >= 0xD800 && unit < 0xDC00 && end - pos >= 6 && pos[0] == '\\' && pos[1] == 'u') {
          // Look ahead for the low half; without one the high half stands alone.
          const char* mark = pos;
          pos += 2;
          unsigned low;
          if (code_unit(low) && low >= 0xDC00 && low < 0xE000) {
            append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
            break;
          }
          pos = mark;
        }
        append_utf8(out, unit);
        break;
      }
      default:
        return false;
    }
  }
}

}  // namespace

bool Json::parse(const std::string& text, Json& out, size_t* error_at) {
  out = Json();
  Parser parser(text.data(), text.data() + text.size());
  bool ok = parser.value_inner(out);
  if (ok) parser.skip_space();
  ok = ok && parser.at_end();
  if (!ok && error_at != nullptr) *error_at = static_cast<size_t>(parser.cursor() - text.data());
  return ok;
}

}  // namespace tlm
