#include "util/json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ab {
namespace {

struct TextCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(JsonEscapeTest, EscapesOnlyQuoteBackslashAndSlash) {
  const std::vector<TextCase> cases = {
      {"empty", "", ""},
      {"plain", "abc", "abc"},
      {"quote", "a\"b", "a\\\"b"},
      {"backslash", "c:\\temp", "c:\\\\temp"},
      {"slash", "a/b", "a\\/b"},
      {"all three", "\"\\/", "\\\"\\\\\\/"},
      {"controls pass", "a\nb\tc\r", "a\nb\tc\r"},
      {"high bytes pass", "\xC0\xFF\x98", "\xC0\xFF\x98"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonEscape(c.input), c.expected) << c.name;
}

TEST(XmlEscapeTest, ReplacesTheFiveSpecialCharacters) {
  const std::vector<TextCase> cases = {
      {"empty", "", ""},
      {"all five", "&\"'<>", "&amp;&quot;&apos;&lt;&gt;"},
      {"in text", "a<b & c>d", "a&lt;b &amp; c&gt;d"},
      // "Привет" in Windows-1251 stays as it is.
      {"cyrillic", "\xCF\xF0\xE8\xE2\xE5\xF2", "\xCF\xF0\xE8\xE2\xE5\xF2"},
      {"entity is escaped again", "&amp;", "&amp;amp;"},
      {"backslash and slash", "\\/", "\\/"},
  };
  for (const auto& c : cases) EXPECT_EQ(XmlEscape(c.input), c.expected) << c.name;
}

struct GetValueCase {
  const char* name;
  std::string json;
  std::string key;
  std::string expected;
};

TEST(JsonGetValueTest, Cases) {
  const std::vector<GetValueCase> cases = {
      {"compact number", R"({"a":12})", "a", "12"},
      {"blank before and after colon", R"({"a" : 12})", "a", "12"},
      {"blank after colon", R"({"a": 12})", "a", "12"},
      {"string", R"({"$c$":"connected"})", "$c$", "connected"},
      {"escaped quote", R"({"s":"say \"hi\""})", "s", "say \"hi\""},
      {"escaped backslash and slash", R"({"s":"a\\b\/c"})", "s", "a\\b/c"},
      {"backslash n stays two characters", R"({"s":"a\nb"})", "s", "a\\nb"},
      {"unicode escape not decoded", R"({"s":"\u0041"})", "s", "\\u0041"},
      {"unterminated string runs to end", R"({"s":"abc)", "s", "abc"},
      {"backslash at the very end", "{\"s\":\"ab\\", "s", "ab\\"},
      {"empty string", R"({"s":""})", "s", ""},
      {"nested occurrence wins", R"({"o":{"k":1},"k":2})", "k", "1"},
      {"array of two objects", R"({"a":[{"x":1},{"y":2}]})", "a", R"({"x":1},{"y":2})"},
      {"object without braces", R"({"o":{"x":{"y":1}},"z":0})", "o", R"("x":{"y":1})"},
      {"braces inside strings count", R"({"o":{"s":"}"},"z":0})", "o", R"("s":")"},
      {"unbalanced object", R"({"o":{"x":1)", "o", ""},
      {"unbalanced array", R"({"a":[1,2)", "a", ""},
      {"empty array", R"({"a":[]})", "a", ""},
      {"null", R"({"a":null})", "a", ""},
      {"true", R"({"a":true})", "a", "true"},
      {"false", R"({"a":false})", "a", "false"},
      {"True is not a word", R"({"a":True})", "a", ""},
      {"exponent not in the run", R"({"a":-1.5e3})", "a", "-1.5"},
      {"run of signs, dots and digits", R"({"a":1.2.-3,"b":1})", "a", "1.2.-3"},
      {"missing key", R"({"a":1})", "b", ""},
      {"key must be quoted exactly", R"({"ab":1})", "a", ""},
      {"key at end of text", R"({"a":)", "a", ""},
      {"spaced form only when no compact one", R"({"k" :1,"k":2})", "k", "2"},
      {"two blanks before colon not found", R"({"a"  :1})", "a", ""},
      {"empty text", "", "a", ""},
      {"high bytes in value", "{\"n\":\"\xCE\xE1\xFA\xE5\xEA\xF2\"}", "n",
       "\xCE\xE1\xFA\xE5\xEA\xF2"},
  };
  for (const auto& c : cases) EXPECT_EQ(JsonGetValue(c.json, c.key), c.expected) << c.name;
}

TEST(JsonNextElementTest, WalksTwoObjects) {
  std::string text = R"({"a":1},{"b":{"c":2}})";
  EXPECT_EQ(JsonNextElement(text), R"({"a":1})");
  EXPECT_EQ(text, R"(,{"b":{"c":2}})");
  EXPECT_EQ(JsonNextElement(text), R"({"b":{"c":2}})");
  EXPECT_EQ(text, "");
  EXPECT_EQ(JsonNextElement(text), "");
  EXPECT_EQ(text, "");
}

TEST(JsonNextElementTest, WalksAnArrayValueFromGetValue) {
  std::string text = JsonGetValue(R"({"zap":[{"n":1},[2,3],{"n":4}],"q":0})", "zap");
  std::vector<std::string> elements;
  for (std::string e = JsonNextElement(text); !e.empty(); e = JsonNextElement(text)) {
    elements.push_back(e);
  }
  EXPECT_EQ(elements, (std::vector<std::string>{R"({"n":1})", "[2,3]", R"({"n":4})"}));
  EXPECT_EQ(text, "");
}

struct ElementCase {
  const char* name;
  std::string text;
  std::string element;
  std::string rest;
};

TEST(JsonNextElementTest, EdgeCases) {
  const std::vector<ElementCase> cases = {
      {"empty", "", "", ""},
      {"no brackets drops everything", "abc, 1", "", ""},
      {"leading junk dropped", "  ,{\"a\":1} x", "{\"a\":1}", " x"},
      {"array kept with brackets", "[1,[2]],3", "[1,[2]]", ",3"},
      {"brackets inside object do not count", "{[}]", "{[}", "]"},
      {"unbalanced at front: nothing", "{\"a\":1", "", "{\"a\":1"},
      {"unbalanced after junk: partial", ",{\"a\":1", "{\"a\":1", "{\"a\":1"},
      // A brace inside a string is counted, so the object is cut short.
      {"brace in string miscounts", R"({"s":"}"},{"t":1})", R"({"s":"})", R"("},{"t":1})"},
      {"unmatched open brace in string", R"({"s":"{"})", "", R"({"s":"{"})"},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(JsonNextElement(text), c.element) << c.name;
    EXPECT_EQ(text, c.rest) << c.name;
  }
}

TEST(JsonNextElementTest, UnbalancedTailGivesOnePartialThenEmpty) {
  std::string text = R"({"a":1},{"b":)";
  EXPECT_EQ(JsonNextElement(text), R"({"a":1})");
  EXPECT_EQ(JsonNextElement(text), R"({"b":)");
  EXPECT_EQ(JsonNextElement(text), "");
  EXPECT_EQ(text, R"({"b":)");
}

TEST(JsonNextPairTest, WalksTwoCompactPairs) {
  std::string text = R"("a":"x","b":12)";
  std::string key, value;
  EXPECT_TRUE(JsonNextPair(text, key, value));
  EXPECT_EQ(key, "a");
  EXPECT_EQ(value, "x");
  EXPECT_EQ(text, R"("b":12)");
  EXPECT_TRUE(JsonNextPair(text, key, value));
  EXPECT_EQ(key, "b");
  EXPECT_EQ(value, "12");
  EXPECT_EQ(text, "");
  EXPECT_FALSE(JsonNextPair(text, key, value));
  EXPECT_EQ(key, "");
  EXPECT_EQ(value, "");
}

struct PairCase {
  const char* name;
  std::string text;
  bool found;
  std::string key;
  std::string value;
  std::string rest;
};

TEST(JsonNextPairTest, Cases) {
  const std::vector<PairCase> cases = {
      {"object opening dropped", R"({"a":1,"b":2})", true, "a", "1", R"("b":2})"},
      {"every escaping backslash dropped", R"("s":"a\"b\\c\nd\/","t":0)", true, "s", "a\"b\\cnd/",
       R"("t":0)"},
      {"object value", R"("o":{"x":{"y":1}},"z":0)", true, "o", R"("x":{"y":1})", R"("z":0)"},
      {"array value", R"("a":[1,[2]]})", true, "a", "1,[2]", "}"},
      {"unbalanced object kept", R"("o":{"x":1)", false, "o", "", R"({"x":1)"},
      {"true", R"("a":true,"b":0)", true, "a", "true", R"("b":0)"},
      {"false", R"("a":false)", true, "a", "false", ""},
      {"negative number", R"("a":-1.5e3)", true, "a", "-1.5", "e3"},
      {"null consumes the key only", R"("a":null,"b":1)", false, "a", "", R"(null,"b":1)"},
      {"blank before colon", R"("a" :1)", false, "a", "", ":1"},
      {"blank after colon", R"("a": 1)", false, "a", "", " 1"},
      {"key without value at end", R"("a")", false, "a", "", ""},
      {"no closing key quote", R"("abc)", false, "", "", "abc"},
      {"no quote at all", "abc", false, "", "", "abc"},
      {"only a comma left", ",", false, "", "", ""},
      {"empty", "", false, "", "", ""},
      {"unterminated string", R"("a":"xy)", false, "a", "xy", "xy"},
      {"backslash at end of string", "\"a\":\"x\\", false, "a", "x", "x\\"},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    std::string key = "stale", value = "stale";
    EXPECT_EQ(JsonNextPair(text, key, value), c.found) << c.name;
    EXPECT_EQ(key, c.key) << c.name;
    EXPECT_EQ(value, c.value) << c.name;
    EXPECT_EQ(text, c.rest) << c.name;
  }
}

TEST(JsonNextPairTest, LoopOverAnObjectStopsAtItsEnd) {
  // The usual caller loop must terminate and see every pair.
  std::string text = R"({"$c$":"tableload","name":"otvl","count":17,"ok":true})";
  std::string key, value;
  std::vector<std::string> seen;
  while (JsonNextPair(text, key, value)) seen.push_back(key + "=" + value);
  EXPECT_EQ(seen, (std::vector<std::string>{"$c$=tableload", "name=otvl", "count=17", "ok=true"}));
  EXPECT_EQ(text, "}");
}

}  // namespace
}  // namespace ab
