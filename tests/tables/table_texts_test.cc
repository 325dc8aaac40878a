#include "tables/table_texts.h"

#include <gtest/gtest.h>

namespace ab {
namespace {

TEST(TableTextsTest, FloatTextIsShortestWithFifteenDigits) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {0, "0"},
      {1, "1"},
      {-1.5, "-1.5"},
      {0.1, "0.1"},
      {1.0 / 3, "0.333333333333333"},
      {0.00001, "0.00001"},
      {0.000001, "1E-6"},
      {-1.25e-7, "-1.25E-7"},
      {123456789012345.0, "123456789012345"},
      {1234567890123456.0, "1.23456789012346E15"},
      {1e20, "1E20"},
      {2.0 / 3 * 1000, "666.666666666667"},
      {static_cast<double>(0.1f), "0.100000001490116"},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatText(c.value), c.text) << c.value;
}

TEST(TableTextsTest, DateTimeTexts) {
  EXPECT_EQ(DateTimeText(36526.0), "01.01.2000");
  EXPECT_EQ(DateTimeText(36526.5), "01.01.2000 12:00:00");
  EXPECT_EQ(DateTimeText(45356.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0), "05.03.2024 14:07:09");
  EXPECT_EQ(DateTimeText(1.0), "31.12.1899");
  EXPECT_EQ(DateTimeText(36526.0 - 1e-10), "01.01.2000");  // rounds to midnight, not 23:59:59
  EXPECT_EQ(SecondsText(0), "01.01.2000");
  EXPECT_EQ(SecondsText(86400), "02.01.2000");
  EXPECT_EQ(SecondsText(4294967295u), "07.02.2136 06:28:15");
  EXPECT_EQ(SecondsText((5 * 365 + 2 + 59) * 86400), "01.03.2005");  // 2000 and 2004 are leap
  EXPECT_DOUBLE_EQ(SecondsToDateTime(86400 + 43200), 36527.5);
}

TEST(TableTextsTest, NumberParsing) {
  EXPECT_EQ(ParseInt32("-12"), -12);
  EXPECT_EQ(ParseInt32("+7"), 7);
  for (const char* bad : {"", "+", "1.0", "12a", " 1", "2147483648", "0x10", "+-1"})
    EXPECT_FALSE(ParseInt32(bad).has_value()) << bad;
  EXPECT_EQ(ParseDecimal(" 1.5 "), 1.5);
  EXPECT_EQ(ParseDecimal("-2e3"), -2000);
  EXPECT_EQ(ParseDecimal(".5"), 0.5);
  for (const char* bad : {"", ".", "1,5", "inf", "nan", "0x1p3", "1e", "--1", "1.5.2"})
    EXPECT_FALSE(ParseDecimal(bad).has_value()) << bad;
}

TEST(TableTextsTest, LowerCaseAndOrderOfWindows1251) {
  EXPECT_EQ(LowerText("AbC\xC0\xDF\xA8"), "abc\xE0\xFF\xB8");
  EXPECT_TRUE(CollateLess("\xE5", "\xB8"));  // е before ё
  EXPECT_TRUE(CollateLess("\xB8", "\xE6"));  // ё before ж
  EXPECT_TRUE(CollateLess("ab", "ABC"));
  EXPECT_FALSE(CollateLess("AB", "ab"));
}

}  // namespace
}  // namespace ab
