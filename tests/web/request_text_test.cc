#include "web/request_text.h"

#include <gtest/gtest.h>

#include <cmath>

#include "web/objects_resource.h"

namespace ab {
namespace {

TEST(PathOfTargetTest, CutsQueryAndDecodesPercent) {
  struct Case {
    const char* target;
    const char* path;
  } cases[] = {
      {"/GetPicture&n=12", "/GetPicture&n=12"},
      {"/GetPicture?n=12", "/GetPicture"},
      {"/Get%50icture&n=%31", "/GetPicture&n=1"},
      {"/a%2fb?x=%41", "/a/b"},
      {"/bad%zz%4", "/bad%zz%4"},
      {"/end%", "/end%"},
      {"/%3F?q", "/?"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PathOfTarget(c.target), c.path) << c.target;
}

TEST(AuthorizationTest, BasicSchemeDecodedAndSplitAtFirstColon) {
  struct Case {
    const char* header;
    AuthKind kind;
    const char* user;
    const char* password;
  } cases[] = {
      {"", AuthKind::kNone, "", ""},
      {"Basic YWRtaW46cWx1bWI=", AuthKind::kBasic, "admin", "qlumb"},
      {"basic YWRtaW46cWx1bWI=", AuthKind::kBasic, "admin", "qlumb"},
      {"BASIC   YTpiOmM=", AuthKind::kBasic, "a", "b:c"},
      {"Basic YWRtaW4=", AuthKind::kBasic, "admin", ""},
      {"Basic Og==", AuthKind::kBasic, "", ""},
      {"Basic !!!!", AuthKind::kBasic, "", ""},
      {"Basic", AuthKind::kBasic, "", ""},
      {"Bearer abc.def", AuthKind::kOther, "", ""},
      {"Digest username=x", AuthKind::kOther, "", ""},
  };
  for (const auto& c : cases) {
    Credentials got = ParseAuthorization(c.header);
    EXPECT_EQ(got.Kind, c.kind) << c.header;
    EXPECT_EQ(got.UserName, c.user) << c.header;
    EXPECT_EQ(got.Password, c.password) << c.header;
  }
}

TEST(Base64Test, PaddingAndMalformedInput) {
  EXPECT_EQ(DecodeBase64("").value(), "");
  EXPECT_EQ(DecodeBase64("YQ==").value(), "a");
  EXPECT_EQ(DecodeBase64("YWI=").value(), "ab");
  EXPECT_EQ(DecodeBase64("YWJj").value(), "abc");
  EXPECT_EQ(DecodeBase64("AP8A").value(), std::string("\0\xff\0", 3));
  EXPECT_FALSE(DecodeBase64("YWJ"));
  EXPECT_FALSE(DecodeBase64("Y*Jj"));
}

TEST(ConstantTimeEqualsTest, ExactCaseSensitiveComparison) {
  EXPECT_TRUE(ConstantTimeEquals("", ""));
  EXPECT_TRUE(ConstantTimeEquals("qlumb", "qlumb"));
  EXPECT_FALSE(ConstantTimeEquals("qlumb", "Qlumb"));
  EXPECT_FALSE(ConstantTimeEquals("qlumb", "qlum"));
  EXPECT_FALSE(ConstantTimeEquals("", "x"));
}

TEST(ParseInt32Test, OnlyWholeDecimalIntegersWithinRange) {
  EXPECT_EQ(ParseInt32("12"), 12);
  EXPECT_EQ(ParseInt32("-5"), -5);
  EXPECT_EQ(ParseInt32("+7"), 7);
  EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt32("-2147483648"), INT32_MIN);
  for (const char* bad : {"", "abc", "1.5", "12 ", " 12", "2147483648", "+-1", "+", "0x10"}) {
    EXPECT_FALSE(ParseInt32(bad)) << bad;
    EXPECT_EQ(ParseInt32Or0(bad), 0) << bad;
  }
}

TEST(RoundHalfEvenTest, HalvesGoToTheEvenNeighbour) {
  struct Case {
    double value;
    int64_t rounded;
  } cases[] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {3.5, 4}, {2.4999, 2}, {2.5001, 3},
               {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {7.0, 7}, {std::nan(""), 0}};
  for (const auto& c : cases) EXPECT_EQ(RoundHalfEven(c.value), c.rounded) << c.value;
}

TEST(FormatCoordinateTest, SixDecimalsWithFullStop) {
  EXPECT_EQ(FormatCoordinate(0.0f), "0.000000");
  EXPECT_EQ(FormatCoordinate(37.5f), "37.500000");
  EXPECT_EQ(FormatCoordinate(-1.25f), "-1.250000");
  // The float is widened exactly before formatting.
  EXPECT_EQ(FormatCoordinate(55.751244f), "55.751244");
  EXPECT_EQ(FormatCoordinate(0.1f), "0.100000");
}

TEST(EscapeJsonControlsTest, OnlyControlCharactersChange) {
  EXPECT_EQ(EscapeJsonControls("a\nb\t\x01"), "a\\u000ab\\u0009\\u0001");
  EXPECT_EQ(EscapeJsonControls("\xcc\xee \\\" /"), "\xcc\xee \\\" /");
}

TEST(UpdateDateTest, FixedEightHourShiftClampedAndRoundedHalfToEven) {
  constexpr double kEpoch = 25569.0;  // 1970-01-01
  struct Case {
    double date_time;
    int64_t seconds;
  } cases[] = {
      {0.0, 0},
      {kEpoch, 0},
      {kEpoch + 8.0 / 24.0, 0},
      {kEpoch + 8.0 / 24.0 - 1.0 / 86400.0, 0},
      {kEpoch + 9.0 / 24.0, 3600},
      {kEpoch + 1.0, 86400 - 8 * 3600},
      // 2024-03-05 14:07:09 local console time.
      {45356.0 + (14 * 3600 + 7 * 60 + 9) / 86400.0, 1709647629 - 8 * 3600},
      {std::nan(""), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(UpdateDateSeconds(c.date_time), c.seconds) << c.date_time;
}

}  // namespace
}  // namespace ab
