#include "json/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using ilvo::Json;

bool parses(const std::string& text) {
  Json v;
  return Json::parse(text, v);
}

std::string nested_arrays(int levels, const std::string& inner) {
  return std::string(levels, '[') + inner + std::string(levels, ']');
}

std::string parsed_text(const std::string& literal) {
  Json v;
  EXPECT_TRUE(Json::parse(literal, v)) << literal;
  return v.text;
}

TEST(JsonParse, AcceptsWholeValuesAndRejectsBrokenOrTrailingText) {
  EXPECT_TRUE(parses("{}"));
  EXPECT_TRUE(parses(" \t\r\n[] \r\n"));
  EXPECT_FALSE(parses("{} x"));
  EXPECT_FALSE(parses(""));
  EXPECT_FALSE(parses("   "));
  EXPECT_FALSE(parses("{\"a\":1,}"));
  EXPECT_FALSE(parses("[1,]"));
  EXPECT_FALSE(parses("[1 2]"));
  EXPECT_FALSE(parses("{\"a\" 1}"));
  EXPECT_FALSE(parses("{1:2}"));
  EXPECT_FALSE(parses("truex"));
  EXPECT_FALSE(parses("[truex]"));
  EXPECT_FALSE(parses("[tru"));
  EXPECT_FALSE(parses("\"open"));
  EXPECT_FALSE(parses("[1,"));
}

TEST(JsonParse, ReadsTheProtocolShapes) {
  Json v;
  ASSERT_TRUE(Json::parse(
      "{\"id\":null,\"method\":\"mining.notify\",\"params\":[\"j1\",true,false,-2.5e1],\"id\":7}", v));
  ASSERT_EQ(v.type, Json::Object);
  ASSERT_EQ(v.members.size(), 4u);
  EXPECT_EQ(v.find("id")->type, Json::Null);  // the first of two duplicate keys wins
  EXPECT_EQ(v.str("method", "-"), "mining.notify");
  EXPECT_EQ(v.str("params", "-"), "-");
  EXPECT_EQ(v.num("id", 3), 3);
  EXPECT_EQ(v.find("missing"), nullptr);
  const Json& params = *v.find("params");
  ASSERT_EQ(params.items.size(), 4u);
  EXPECT_EQ(params.items[0].text, "j1");
  EXPECT_TRUE(params.items[1].boolean);
  EXPECT_EQ(params.items[2].type, Json::Bool);
  EXPECT_FALSE(params.items[2].boolean);
  EXPECT_EQ(params.items[3].number, -25);
  EXPECT_EQ(params.find("j1"), nullptr);  // not an object
}

TEST(JsonParse, NumbersFollowTheStrictGrammar) {
  const struct {
    const char* text;
    double value;  // NAN: the text is not a number
  } cases[] = {
      {"0", 0},       {"-0.5", -0.5}, {"12e2", 1200}, {"1E+2", 100}, {"2.5e-1", 0.25}, {"[7]", 7},
      {"+5", NAN},    {"1.2.3", NAN}, {"-", NAN},     {"01", NAN},   {"-01", NAN},     {"1.", NAN},
      {".5", NAN},    {"1e", NAN},    {"1e+", NAN},   {"0x10", NAN}, {"x", NAN},       {"- 1", NAN},
  };
  for (const auto& c : cases) {
    Json v;
    const bool ok = Json::parse(c.text, v);
    EXPECT_EQ(ok, !std::isnan(c.value)) << c.text;
    if (ok) {
      EXPECT_EQ(v.type == Json::Array ? v.items[0].number : v.number, c.value) << c.text;
    }
  }
  Json v;
  ASSERT_TRUE(Json::parse("1e999", v));  // out of range is not a syntax error
  EXPECT_TRUE(std::isinf(v.number));
}

TEST(JsonParse, NestingStopsAtDepth32) {
  EXPECT_TRUE(parses(nested_arrays(32, "")));
  EXPECT_FALSE(parses(nested_arrays(32, "1")));
  EXPECT_TRUE(parses(nested_arrays(31, "1")));
  EXPECT_FALSE(parses(nested_arrays(100000, "")));  // deep input fails instead of overflowing the stack
  std::string objects;
  for (int i = 0; i < 32; ++i) objects += "{\"k\":";
  EXPECT_FALSE(parses(objects + "1" + std::string(32, '}')));
  EXPECT_TRUE(parses(objects.substr(5) + "1" + std::string(31, '}')));
}

// A wide line would otherwise become a tree about fifty times its size.
TEST(JsonParse, ValuesStopAt4096) {
  auto zeros = [](int n) {
    std::string s = "[0";
    for (int i = 1; i < n; ++i) s += ",0";
    return s + "]";
  };
  EXPECT_TRUE(parses(zeros(4095)));  // with the array itself, 4096 values
  EXPECT_FALSE(parses(zeros(4096)));
  EXPECT_FALSE(parses(zeros(500000)));
  EXPECT_FALSE(parses("{" + std::string(3000, ' ') + "\"a\":[" + zeros(2000) + "," + zeros(2100) + "]}"));
}

TEST(JsonParse, StringEscapesAndSurrogates) {
  EXPECT_EQ(parsed_text("\"\\u00e9\""), "\xC3\xA9");
  EXPECT_EQ(parsed_text("\"\\ud83d\\ude00\""), "\xF0\x9F\x98\x80");
  EXPECT_EQ(parsed_text("\"\\ud800\""), "\xED\xA0\x80");
  EXPECT_EQ(parsed_text("\"\\ud800\\u0041\""), "\xED\xA0\x80" "A");
  EXPECT_EQ(parsed_text("\"\\udc00\""), "\xED\xB0\x80");
  EXPECT_EQ(parsed_text("\"\\ud800\\n\""), "\xED\xA0\x80\n");
  EXPECT_EQ(parsed_text("\"\\u0000\""), std::string(1, '\0'));
  EXPECT_EQ(parsed_text("\"\\u07FF\""), "\xDF\xBF");
  EXPECT_EQ(parsed_text("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""), "\"\\/\b\f\n\r\t");
  EXPECT_EQ(parsed_text("\"a\tb\nc\xff\""), "a\tb\nc\xff");
  EXPECT_FALSE(parses("\"\\x\""));
  EXPECT_FALSE(parses("\"\\u12\""));
  EXPECT_FALSE(parses("\"\\u12g4\""));
  EXPECT_FALSE(parses("\"\\"));
}

TEST(JsonEscape, EscapesQuoteBackslashAndControlBytesOnly) {
  EXPECT_EQ(ilvo::json_escape("\"\\\x01"), "\\\"\\\\\\u0001");
  EXPECT_EQ(ilvo::json_escape("\t\n\r\b\f\x1f"), "\\t\\n\\r\\u0008\\u000c\\u001f");
  EXPECT_EQ(ilvo::json_escape(std::string(1, '\0')), "\\u0000");
  EXPECT_EQ(ilvo::json_escape("a/b \x7f \xC3\xA9"), "a/b \x7f \xC3\xA9");
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  std::string literal = "\"";
  literal += ilvo::json_escape(all);
  literal += '"';
  EXPECT_EQ(parsed_text(literal), all);
}

}  // namespace
