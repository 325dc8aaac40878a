#include "util/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ab {
namespace {

TEST(CodepageTest, EveryByteRoundTripsExceptTheUnassignedOne) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const std::string back = Utf8ToCp1251(Cp1251ToUtf8(one));
    if (b == 0x98) {
      EXPECT_EQ(back, "?");
    } else {
      EXPECT_EQ(back, one) << "byte " << b;
    }
  }
}

TEST(CodepageTest, AllBytesInOneTextRoundTrip) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string expected = all;
  expected[0x98] = '?';
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), expected);
}

struct ByteCase {
  unsigned char byte;
  std::string utf8;
};

TEST(CodepageTest, KnownCodePoints) {
  const std::vector<ByteCase> cases = {
      {0x00, std::string(1, '\0')},
      {0x41, "A"},
      {0x7F, "\x7F"},
      {0x80, "Ђ"},
      {0x88, "€"},
      {0x96, "–"},
      {0x98, "\xEF\xBF\xBD"},
      {0x99, "™"},
      {0xA0, "\xC2\xA0"},
      {0xA5, "Ґ"},
      {0xA8, "Ё"},
      {0xB8, "ё"},
      {0xB9, "№"},
      {0xC0, "А"},
      {0xDF, "Я"},
      {0xE0, "а"},
      {0xFF, "я"},
  };
  for (const auto& c : cases) {
    const std::string one(1, static_cast<char>(c.byte));
    EXPECT_EQ(Cp1251ToUtf8(one), c.utf8) << "byte " << int{c.byte};
  }
}

TEST(CodepageTest, CyrillicSentence) {
  const std::string cp1251 =
      "\xCE\xF2\xEF\xF0\xE0\xE2\xEB\xE5\xED \xED\xE0\xF0\xFF\xE4 \xE2 \xCC\xD7\xD1";
  const std::string utf8 = "Отправлен наряд в МЧС";
  EXPECT_EQ(Cp1251ToUtf8(cp1251), utf8);
  EXPECT_EQ(Utf8ToCp1251(utf8), cp1251);
}

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::string cp1251;
};

TEST(CodepageTest, MalformedOrUnmappedUtf8BecomesQuestionMarks) {
  const std::vector<Utf8Case> cases = {
      {"lone continuation", "\x80", "?"},
      {"truncated at end", "a\xD0", "a?"},
      {"truncated before ascii",
       "\xD0"
       "A",
       "?A"},
      {"truncated three-byte",
       "\xE2\x82"
       "A",
       "?A"},
      {"overlong two-byte", "\xC0\xAF", "??"},
      {"overlong three-byte", "\xE0\x80\xAF", "???"},
      {"surrogate", "\xED\xA0\x80", "???"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "????"},
      {"invalid lead",
       "\xF5"
       "b",
       "?b"},
      {"outside the code page", "é😀", "??"},
      {"replacement character", "\xEF\xBF\xBD", "?"},
      {"valid after invalid", "Я\xFFя", "\xDF?\xFF"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToCp1251(c.utf8), c.cp1251) << c.name;
}

}  // namespace
}  // namespace ab
