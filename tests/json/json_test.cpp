// The JSON parser: its strict grammar, the shapes the pool protocol uses, its
// depth and size limits and string escapes; and json_escape.
#include "json/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

namespace {

using tlm::Json;

bool parses(const std::string& text) {
  Json v;
  return Json::parse(text, v);
}

TEST(JsonParse, OnlyWholeValuesInTheStrictGrammar) {
  EXPECT_TRUE(parses("{}"));
  EXPECT_TRUE(parses(" \t\r\n[] \r\n"));
  for (const char* text : {"{} x", "", "{\"a\":1,}", "[1,]", "[1 2]", "{\"a\" 1}", "{1:2}", "truex", "[tru", "\"open",
                           "[1,", "+5", "-", "01", "1.", ".5", "1e", "1e+", "0x10", "\"\\x\"", "\"\\u12\"",
                           "\"\\u12g4\"", "\"\\"})
    EXPECT_FALSE(parses(text)) << text;
  for (const auto& [text, value] : {std::pair{"-0.5", -0.5}, {"12e2", 1200.0}, {"1E+2", 100.0}, {"2.5e-1", 0.25}}) {
    Json v;
    ASSERT_TRUE(Json::parse(text, v)) << text;
    EXPECT_EQ(v.number, value) << text;
  }
  Json v;
  ASSERT_TRUE(Json::parse("1e999", v));  // out of range is not a syntax error
  EXPECT_TRUE(std::isinf(v.number));
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

TEST(JsonParse, NestingStopsAtDepth32AndValuesAt4096) {
  EXPECT_TRUE(parses(std::string(32, '[') + std::string(32, ']')));
  EXPECT_TRUE(parses(std::string(31, '[') + "1" + std::string(31, ']')));
  EXPECT_FALSE(parses(std::string(32, '[') + "1" + std::string(32, ']')));
  std::string objects;
  for (int i = 0; i < 32; ++i) objects += "{\"k\":";
  EXPECT_FALSE(parses(objects + "1" + std::string(32, '}')));
  EXPECT_TRUE(parses(objects.substr(5) + "1" + std::string(31, '}')));

  // A wide line would otherwise become a tree about fifty times its size.
  auto zeros = [](int n) {
    std::string s = "[0";
    for (int i = 1; i < n; ++i) s += ",0";
    return s + "]";
  };
  EXPECT_TRUE(parses(zeros(4095)));  // with the array itself, 4096 values
  EXPECT_FALSE(parses(zeros(4096)));
  EXPECT_FALSE(parses("{\"a\":[" + zeros(2000) + "," + zeros(2100) + "]}"));  // counted across arrays
}

TEST(JsonParse, StringEscapesAndSurrogates) {
  const std::pair<std::string, std::string> cases[] = {
      {R"("\u00e9")", "\xC3\xA9"},
      {R"("\u07FF")", "\xDF\xBF"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {R"("\ud800")", "\xED\xA0\x80"},  // a lone half stands as it is
      {R"("\udc00")", "\xED\xB0\x80"},
      {R"("\ud800\u0041")", "\xED\xA0\x80" "A"},
      {R"("\u0000")", std::string(1, '\0')},
      {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"\"a\tb\nc\xff\"", "a\tb\nc\xff"},
  };
  for (const auto& [literal, text] : cases) {
    Json v;
    ASSERT_TRUE(Json::parse(literal, v)) << literal;
    EXPECT_EQ(v.text, text) << literal;
  }
}

TEST(JsonEscape, EscapesQuoteBackslashAndControlBytesOnly) {
  EXPECT_EQ(tlm::json_escape("\"\\\x01"), "\\\"\\\\\\u0001");
  EXPECT_EQ(tlm::json_escape("\t\n\r\b\f\x1f"), "\\t\\n\\r\\u0008\\u000c\\u001f");
  EXPECT_EQ(tlm::json_escape(std::string(1, '\0')), "\\u0000");
  EXPECT_EQ(tlm::json_escape("a/b \x7f \xC3\xA9"), "a/b \x7f \xC3\xA9");
}

}  // namespace
