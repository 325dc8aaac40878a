#include "tables/table_texts.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ab {

std::string FloatText(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  if (v == 0) return "0";
  char buf[40];
  // 15 significant digits, rounded once; the digits and the exponent are then laid out here.
  std::snprintf(buf, sizeof buf, "%.14e", v);
  std::string_view s(buf);
  bool negative = s[0] == '-';
  if (negative) s.remove_prefix(1);
  size_t e = s.find('e');
  int exp = std::atoi(std::string(s.substr(e + 1)).c_str());
  std::string digits;
  for (char c : s.substr(0, e))
    if (c != '.') digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  std::string out = negative ? "-" : "";
  if (exp >= -5 && exp < 15) {
    if (exp < 0) {
      out += "0.";
      out.append(static_cast<size_t>(-exp - 1), '0');
      out += digits;
    } else {
      size_t int_digits = static_cast<size_t>(exp) + 1;
      if (digits.size() <= int_digits) {
        out += digits;
        out.append(int_digits - digits.size(), '0');
      } else {
        out += digits.substr(0, int_digits);
        out += '.';
        out += digits.substr(int_digits);
      }
    }
  } else {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out += digits.substr(1);
    }
    out += 'E';
    out += std::to_string(exp);
  }
  return out;
}

namespace {

struct Civil {
  int64_t year;
  unsigned month;
  unsigned day;
};

// Proleptic Gregorian date of a day count from 1970-01-01.
Civil CivilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

// Day 0 of the table dates (1899-12-30) counted from 1970-01-01.
constexpr int64_t kDays1899To1970 = 25569;

std::string Format(int64_t day, int64_t second_of_day) {
  Civil c = CivilFromDays(day - kDays1899To1970);
  char buf[48];
  if (second_of_day == 0) {
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04lld", c.day, c.month,
                  static_cast<long long>(c.year));
  } else {
    std::snprintf(buf, sizeof buf, "%02u.%02u.%04lld %02d:%02d:%02d", c.day, c.month,
                  static_cast<long long>(c.year), static_cast<int>(second_of_day / 3600),
                  static_cast<int>(second_of_day / 60 % 60), static_cast<int>(second_of_day % 60));
  }
  return buf;
}

}  // namespace

std::string DateTimeText(double days) {
  if (!std::isfinite(days) || std::fabs(days) > 3.0e6) return {};
  double whole = std::floor(days);
  // Rounded to the millisecond first so that 0.99999999 of a day does not show as 23:59:59.
  auto ms = static_cast<int64_t>(std::llround((days - whole) * 86400000.0));
  auto day = static_cast<int64_t>(whole);
  if (ms >= 86400000) {
    ++day;
    ms -= 86400000;
  }
  return Format(day, ms / 1000);
}

double SecondsToDateTime(uint32_t seconds) {
  return kDays2000 + static_cast<double>(seconds / 86400) +
         static_cast<double>(seconds % 86400) / 86400.0;
}

std::string SecondsText(uint32_t seconds) {
  return Format(36526 + seconds / 86400, seconds % 86400);
}

std::optional<double> ParseDecimal(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::string_view body = text;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) body.remove_prefix(1);
  // Only digits, one ".", and an exponent: no "inf", "nan" or hexadecimal forms.
  size_t i = 0, digits = 0;
  while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != body.size()) return std::nullopt;
  bool negative = !text.empty() && text[0] == '-';
  double v = 0;
  auto [end, ec] = std::from_chars(body.data(), body.data() + body.size(), v);
  if (end != body.data() + body.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) return std::nullopt;
  return negative ? -v : v;
}

uint8_t LowerCp1251(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c + 32);
  if (c >= 0xC0 && c <= 0xDF) return static_cast<uint8_t>(c + 32);
  switch (c) {
    case 0x80:
      return 0x90;
    case 0x81:
      return 0x83;
    case 0x8A:
      return 0x9A;
    case 0x8C:
      return 0x9C;
    case 0x8D:
      return 0x9D;
    case 0x8E:
      return 0x9E;
    case 0x8F:
      return 0x9F;
    case 0xA1:
      return 0xA2;
    case 0xA3:
      return 0xBC;
    case 0xA5:
      return 0xB4;
    case 0xA8:
      return 0xB8;
    case 0xAA:
      return 0xBA;
    case 0xAF:
      return 0xBF;
    case 0xB2:
      return 0xB3;
    case 0xBD:
      return 0xBE;
    default:
      return c;
  }
}

std::string LowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(LowerCp1251(static_cast<uint8_t>(c)));
  return out;
}

namespace {

int CollateWeight(uint8_t c) {
  c = LowerCp1251(c);
  if (c == 0xB8) return 0xE5 * 2 + 1;  // ё right after е
  return c * 2;
}

}  // namespace

bool CollateLess(std::string_view a, std::string_view b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int wa = CollateWeight(static_cast<uint8_t>(a[i]));
    int wb = CollateWeight(static_cast<uint8_t>(b[i]));
    if (wa != wb) return wa < wb;
  }
  return a.size() < b.size();
}

}  // namespace ab
