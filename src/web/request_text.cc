#include "web/request_text.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace ab {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string PathOfTarget(std::string_view target) {
  target = target.substr(0, target.find('?'));
  std::string out;
  out.reserve(target.size());
  for (size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size()) {
      int hi = HexValue(target[i + 1]);
      int lo = HexValue(target[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(target[i]);
  }
  return out;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  if (text.empty()) return std::string();
  if (text.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return std::nullopt;
  std::string out(text.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size()));
  if (n < 0) return std::nullopt;
  // EVP_DecodeBlock counts the bytes that padding stands for; drop them.
  size_t pad = 0;
  if (text.back() == '=') ++pad;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++pad;
  out.resize(static_cast<size_t>(n) - pad);
  return out;
}

Credentials ParseAuthorization(std::string_view header_value) {
  Credentials c;
  std::string_view v = Trim(header_value);
  if (v.empty()) return c;
  size_t sp = v.find_first_of(" \t");
  std::string_view scheme = v.substr(0, sp);
  if (!IEquals(scheme, "Basic")) {
    c.Kind = AuthKind::kOther;
    return c;
  }
  c.Kind = AuthKind::kBasic;
  std::string_view token = sp == std::string_view::npos ? std::string_view() : Trim(v.substr(sp));
  auto decoded = DecodeBase64(token);
  if (!decoded) return c;
  size_t colon = decoded->find(':');
  if (colon == std::string::npos) {
    c.UserName = *decoded;
  } else {
    c.UserName = decoded->substr(0, colon);
    c.Password = decoded->substr(colon + 1);
  }
  return c;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

int32_t ParseInt32Or0(std::string_view text) { return ParseInt32(text).value_or(0); }

int64_t RoundHalfEven(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 9.2e18) return std::numeric_limits<int64_t>::max();
  if (value <= -9.2e18) return std::numeric_limits<int64_t>::min();
  double floor = std::floor(value);
  double frac = value - floor;
  auto whole = static_cast<int64_t>(floor);
  if (frac > 0.5 || (frac == 0.5 && (whole % 2) != 0)) ++whole;
  return whole;
}

std::string FormatCoordinate(float value) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, "%3.6f", static_cast<double>(value));
  std::string s(buf, n > 0 ? std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1) : 0);
  std::replace(s.begin(), s.end(), ',', '.');
  return s;
}

std::string EscapeJsonControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  static constexpr char kHex[] = "0123456789abcdef";
  for (char c : text) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20) {
      out += "\\u00";
      out.push_back(kHex[u >> 4]);
      out.push_back(kHex[u & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace ab
